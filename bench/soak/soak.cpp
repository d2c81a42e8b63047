// riosoak: the real window polling three simulated boards at 115200 bit/s for
// a long time while faults come and go at random: a board turns silent, late,
// slow, split or malformed for a while, or the line is unplugged and plugged
// back in (the port reached through a symbolic link that is re-pointed, then
// "ComPort Initialize" and START clicked). It counts every exchange by the
// status it ended with and by whether a fault explains it, and the resident
// memory along the way. Not a test: a run takes an hour by default.
//
//   riosoak [--minutes N] [--seed S]
//
// Exit code 0 when nothing was falsely reported, 1 otherwise.

#include "bench/probe_port/probe_port.h"
#include "bench/process_figures/process_figures.h"
#include "panel/form1.h"
#include "sim/simulator.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kSpeed = 115200;
// A fault's effects (a late reply still on its way) may be seen this long
// after it was lifted.
constexpr auto kSettle = 2s;
constexpr auto kWarmUp = 30s;

struct FaultKind {
    const char* name;
    bool collides;   // its late replies may land in other boards' exchanges
    bool okPossible; // the board may still show OK now and then
};
const std::array<FaultKind, 9> kBoardFaults = {{{"silent", false, false},
                                                {"late", true, true},
                                                {"delay:400", true, true},
                                                {"split:3:20", false, true},
                                                {"bad-ack", false, false},
                                                {"bad-command", false, false},
                                                {"etx-moved", false, false},
                                                {"extra-byte", false, true},
                                                {"garbage", false, false}}};

long long residentKiB() {
    return rio::bench::residentBytes() / 1024;
}

// Board 0, 1 or 2's address on the line, "01" to "03". Made whole rather than
// assigned as "0" + a number's text: GCC 12 at -O2 misreads that string
// assignment as an overlapping copy of impossible size (-Wrestrict).
std::string addressOf(int board) {
    return {'0', char('1' + board)};
}

enum Shown { Ok, Error, NoAnswer, Blank };
const char* const kShown[] = {"OK", "Error", "no answer", "blank"};

class Soak : public QObject {
public:
    Soak(std::chrono::minutes length, unsigned seed, const QString& linkDir)
        : m_length(length), m_random(seed), m_link(linkDir + QStringLiteral("/line")) {
        rio::sim::SimConfig config;
        config.baud = kSpeed;
        for (auto& board : config.boards)
            board.ramp = true;
        m_sim = std::make_unique<rio::sim::Simulator>(config);
        plug();
        rio::serial::PortMap ports([] { return std::vector<rio::serial::PresentDevice>{}; });
        ports.addOverride({1, m_link});
        // Each request going out closes the exchange before it.
        auto port = std::make_unique<rio::bench::ProbePort>(std::move(ports));
        port->keepNotes = false;
        port->beforeRequest = [this](std::string_view request) { exchangeBegins(request); };
        port->failedBeforeRequest = [this] { exchangeBegins({}); };
        m_form = std::make_unique<rio::panel::Form1>(std::move(port));
        m_form->setProcessEnd([](int) {});
        m_form->Form_Load();
        m_form->Text8->setText(QString::number(kSpeed));
        for (auto* button : {m_form->Command4[0], m_form->Command14[3], m_form->Command24[7]})
            QTest::mouseClick(button, Qt::LeftButton);
        QTest::mouseClick(m_form->Command2, Qt::LeftButton);
        QTest::mouseClick(m_form->Command5, Qt::LeftButton);

        m_begun = Clock::now();
        m_faults.setInterval(1000);
        connect(&m_faults, &QTimer::timeout, this, [this] { everySecond(); });
        m_faults.start();
    }

    void report() {
        m_board.reset(); // the last exchange has no successor to close it
        const auto minutes = std::chrono::duration<double>(Clock::now() - m_begun).count() / 60;
        std::printf("riosoak: %.1f minutes, 3 boards at %d bit/s, seed %u\n", minutes, kSpeed,
                    m_seed);
        long total = 0;
        for (const auto& [key, n] : m_counts)
            total += n;
        std::printf("exchanges: %ld\n", total);
        for (const char* why :
             {"healthy", "own fault", "other board's fault", "unplugged", "port closed"})
            for (int s = Ok; s <= Blank; ++s) {
                const auto it = m_counts.find({why, Shown(s)});
                if (it != m_counts.end())
                    std::printf("  %-22s %-10s %8ld\n", why, kShown[s], it->second);
            }
        std::printf("faults: %d board faults, %d unplugs\n", m_boardFaults, m_unplugs);
        for (const auto& [name, times] : m_faultsByName)
            std::printf("  %-12s %d\n", name.c_str(), times);
        std::printf("false reports: %ld no-answers and %ld errors on healthy boards, %ld OKs "
                    "from boards that cannot answer correctly\n",
                    count("healthy", NoAnswer), count("healthy", Error), m_falseOks);
        std::printf("resident memory: %lld KiB after warm-up, %lld KiB at the end, %lld KiB most\n",
                    m_rssStart, residentKiB(), m_rssMost);
        std::printf("processor time: %.1f s; busy flags at the end: %d %d; deepest tick "
                    "nesting: %d\n",
                    std::chrono::duration<double>(rio::bench::processorTimeUsed()).count(),
                    m_form->ReadBusy, m_form->WriteBusy, m_form->deepestTickNesting());
        std::fflush(stdout);
    }

    [[nodiscard]] bool falseReports() const {
        return count("healthy", NoAnswer) + count("healthy", Error) +
                   count("port closed", NoAnswer) + m_falseOks >
               0;
    }
    unsigned m_seed = 0;

private:
    [[nodiscard]] long count(const char* why, Shown shown) const {
        const auto it = m_counts.find({why, shown});
        return it == m_counts.end() ? 0 : it->second;
    }

    void plug() {
        const QString path = QString::fromStdString(m_sim->start());
        QFile::remove(m_link);
        QFile::link(path, m_link);
    }

    // A new request is going out: the exchange before it has ended, and its
    // board's status line says how.
    void exchangeBegins(std::string_view request) {
        if (m_board) {
            const QString text = m_form->Label2[*m_board]->text();
            const Shown shown = text.isEmpty()                           ? Blank
                                : text.endsWith(QStringLiteral("OK"))    ? Ok
                                : text.endsWith(QStringLiteral("Error")) ? Error
                                                                         : NoAnswer;
            m_counts[{m_why, shown}] += 1;
            if (shown == Ok && m_forbidsOk)
                ++m_falseOks;
        }
        // What could explain this exchange's outcome, fixed as it begins.
        const auto now = Clock::now();
        if (request.empty()) {
            // The port is closed: this exchange ends as no answer before
            // the next one begins, whichever board it was for.
            m_counts[{now < m_unpluggedUntil ? "unplugged" : "port closed", NoAnswer}] += 1;
            m_board.reset();
            return;
        }
        const std::size_t board = std::size_t(request[2] - '1');
        m_board = board < 3 ? std::optional(board) : std::nullopt;
        m_forbidsOk = false;
        if (now < m_unpluggedUntil)
            m_why = "unplugged";
        else if (m_board && now < m_faultUntil[*m_board]) {
            m_why = "own fault";
            // From just after the fault began until it was lifted; not while
            // it settles, when the board answers normally again.
            m_forbidsOk = m_faultForbidsOk[*m_board] && now > m_faultSince[*m_board] + 100ms &&
                          now < m_faultLifted[*m_board];
        } else if (now < m_collisionsUntil)
            m_why = "other board's fault";
        else
            m_why = "healthy";
    }

    // Once a second: lift a fault whose time is up, or with some chance start
    // a new one. At most one fault at a time, so each is seen on its own.
    void everySecond() {
        const auto now = Clock::now();
        if (now - m_begun > m_length) {
            m_faults.stop();
            QCoreApplication::exit(0);
            return;
        }
        if (m_rssStart == 0 && now - m_begun > kWarmUp)
            m_rssStart = residentKiB();
        if (m_rssStart != 0)
            m_rssMost = std::max(m_rssMost, residentKiB());
        m_sim->clearFrames(); // the simulator's record is not needed here

        if (m_faultEnds && now >= *m_faultEnds) {
            m_faultEnds.reset();
            if (m_unplugged) {
                m_unplugged = false;
                plug();
                QTest::mouseClick(m_form->Command2, Qt::LeftButton);
                QTest::mouseClick(m_form->Command5, Qt::LeftButton);
                m_unpluggedUntil = Clock::now() + kSettle;
            } else {
                m_sim->setBehaviour(addressOf(m_faultBoard), {});
            }
            return;
        }
        if (m_faultEnds || !std::bernoulli_distribution(0.15)(m_random))
            return;
        const auto length =
            std::chrono::seconds(std::uniform_int_distribution<int>(2, 10)(m_random));
        m_faultEnds = now + length;
        if (std::bernoulli_distribution(0.15)(m_random)) {
            ++m_unplugs;
            m_unplugged = true;
            m_unpluggedUntil = Clock::time_point::max();
            m_sim->hangUp();
            return;
        }
        const FaultKind& fault = kBoardFaults[std::uniform_int_distribution<std::size_t>(
            0, kBoardFaults.size() - 1)(m_random)];
        const int board = std::uniform_int_distribution<int>(0, 2)(m_random);
        m_faultBoard = board;
        m_faultSince[std::size_t(board)] = now;
        m_faultLifted[std::size_t(board)] = now + length;
        m_faultUntil[std::size_t(board)] = now + length + kSettle;
        m_faultForbidsOk[std::size_t(board)] = !fault.okPossible;
        if (fault.collides)
            m_collisionsUntil = now + length + kSettle;
        ++m_boardFaults;
        m_faultsByName[fault.name] += 1;
        m_sim->setBehaviour(addressOf(m_faultBoard), *rio::sim::parseBehaviour(fault.name));
    }

    std::chrono::minutes m_length;
    std::mt19937 m_random;
    QString m_link;
    std::unique_ptr<rio::sim::Simulator> m_sim;
    std::unique_ptr<rio::panel::Form1> m_form;
    QTimer m_faults;
    Clock::time_point m_begun;
    std::optional<Clock::time_point> m_faultEnds;
    bool m_unplugged = false;
    int m_faultBoard = 0; // 0 to 2
    std::array<Clock::time_point, 3> m_faultSince{};
    std::array<Clock::time_point, 3> m_faultLifted{};
    std::array<Clock::time_point, 3> m_faultUntil{};
    std::array<bool, 3> m_faultForbidsOk{};
    Clock::time_point m_collisionsUntil{};
    Clock::time_point m_unpluggedUntil{};
    // The exchange in progress: its board and what explains its outcome.
    std::optional<std::size_t> m_board;
    const char* m_why = "healthy";
    bool m_forbidsOk = false;
    std::map<std::pair<std::string, Shown>, long> m_counts;
    long m_falseOks = 0;
    std::map<std::string, int> m_faultsByName;
    int m_boardFaults = 0;
    int m_unplugs = 0;
    long long m_rssStart = 0;
    long long m_rssMost = 0;
};

} // namespace

int main(int argc, char** argv) {
    // Answered before the window's application exists: no display needed.
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") {
            std::puts("usage: riosoak [--minutes N] [--seed S]\n"
                      "The panel polling three simulated boards while faults come and go;\n"
                      "exit 0 when nothing was falsely reported, 1 otherwise.");
            return 0;
        }
    }
    QApplication app(argc, argv);
    int minutes = 60;
    unsigned seed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--minutes")
            minutes = std::atoi(argv[i + 1]);
        else if (option == "--seed")
            seed = unsigned(std::strtoul(argv[i + 1], nullptr, 10));
    }
    QTemporaryDir linkDir;
    Soak soak(std::chrono::minutes(minutes), seed, linkDir.path());
    soak.m_seed = seed;
    QApplication::exec();
    soak.report();
    return soak.falseReports() ? 1 : 0;
}
