// riosoak: the real window polling three simulated boards at 115200 bit/s for
// a long time while faults come and go at random: a board turns silent, late,
// slow, split or malformed for a while, or the line is unplugged and plugged
// back in (the port reached through a symbolic link that is re-pointed, then
// "ComPort Initialize" and START clicked). It counts what the panel showed,
// by outcome and by whether a fault explained it, and the resident memory
// along the way. Not a test: a run takes an hour by default.
//
//   riosoak [--minutes N] [--seed S]

#include "form1.h"
#include "qt_serial_control.h"
#include "simulator.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kSpeed = 115200;
// A fault's effects (a late reply still on its way, a board's last slow
// answer) may be seen this long after it was lifted; what shows in that
// time is put down to the fault.
constexpr auto kSettle = 2s;
constexpr auto kWarmUp = 30s;

const std::array<const char*, 9> kBoardFaults = {"silent",     "late",       "delay:400",
                                                 "split:3:20", "bad-ack",    "bad-command",
                                                 "etx-moved",  "extra-byte", "garbage"};

long long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * ::sysconf(_SC_PAGESIZE) / 1024;
}

double processorSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

enum class Shown { Ok, Error, NoAnswer };

struct Counts {
    std::map<Shown, long> explained; // while a fault was in force or settling
    std::map<Shown, long> clean;     // with every board healthy and the line in
};

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
        m_form = std::make_unique<rio::panel::Form1>(
            std::make_unique<rio::serial::QtSerialControl>(std::move(ports)));
        m_form->setProcessEnd([](int) {});
        m_form->Form_Load();
        m_form->Text8->setText(QString::number(kSpeed));
        for (auto* button : {m_form->Command4[0], m_form->Command14[3], m_form->Command24[7]})
            QTest::mouseClick(button, Qt::LeftButton);
        QTest::mouseClick(m_form->Command2, Qt::LeftButton);
        QTest::mouseClick(m_form->Command5, Qt::LeftButton);

        m_begun = Clock::now();
        m_sampler.setTimerType(Qt::PreciseTimer);
        m_sampler.setInterval(1);
        connect(&m_sampler, &QTimer::timeout, this, [this] { sample(); });
        m_sampler.start();
        m_faults.setInterval(1000);
        connect(&m_faults, &QTimer::timeout, this, [this] { nextFault(); });
        m_faults.start();
    }

    void report() const {
        const auto minutes = std::chrono::duration<double>(Clock::now() - m_begun).count() / 60;
        std::printf("riosoak: %.1f minutes, 3 boards at %d bit/s\n", minutes, kSpeed);
        std::printf("requests received by the boards: %ld, replies sent: %ld\n", m_requests,
                    m_replies);
        const auto line = [](const char* what, const std::map<Shown, long>& c) {
            const auto at = [&](Shown s) { return c.count(s) ? c.at(s) : 0L; };
            std::printf("%-36s OK %8ld   Error %6ld   no answer %6ld\n", what, at(Shown::Ok),
                        at(Shown::Error), at(Shown::NoAnswer));
        };
        line("shown with no fault in force:", m_counts.clean);
        line("shown during or after a fault:", m_counts.explained);
        std::printf("faults injected: %d board faults, %d unplugs\n", m_boardFaults, m_unplugs);
        for (const auto& [name, times] : m_faultsByName)
            std::printf("  %-12s %d\n", name.c_str(), times);
        std::printf("false no-answers: %ld, false errors: %ld\n",
                    m_counts.clean.count(Shown::NoAnswer) ? m_counts.clean.at(Shown::NoAnswer) : 0,
                    m_counts.clean.count(Shown::Error) ? m_counts.clean.at(Shown::Error) : 0);
        std::printf("resident memory: %lld KiB after warm-up, %lld KiB at the end, %lld KiB most\n",
                    m_rssStart, residentKiB(), m_rssMost);
        std::printf("processor time: %.1f s, busy flags at the end: %d %d\n", processorSeconds(),
                    m_form->ReadBusy, m_form->WriteBusy);
        std::fflush(stdout);
    }

    [[nodiscard]] bool falseReports() const {
        return m_counts.clean.count(Shown::NoAnswer) || m_counts.clean.count(Shown::Error);
    }

private:
    void plug() {
        const QString path = QString::fromStdString(m_sim->start());
        QFile::remove(m_link);
        QFile::link(path, m_link);
    }

    // True while anything that could explain a failure is in force or
    // settling: a board fault (any board's: a late reply lands in another
    // board's exchange) or an unplugged line.
    [[nodiscard]] bool faultInForce() const { return Clock::now() < m_quietFrom; }

    void sample() {
        const auto now = Clock::now();
        if (now - m_begun > m_length) {
            m_sampler.stop();
            m_faults.stop();
            QCoreApplication::exit(0);
            return;
        }
        if (m_rssStart == 0 && now - m_begun > kWarmUp)
            m_rssStart = residentKiB();
        if (m_rssStart != 0)
            m_rssMost = std::max(m_rssMost, residentKiB());
        for (std::size_t i = 0; i < 3; ++i) {
            const QString text = m_form->Label2[i]->text();
            if (text == m_last[i])
                continue;
            m_last[i] = text;
            if (text.isEmpty())
                continue;
            const Shown shown = text.endsWith(QStringLiteral("OK"))      ? Shown::Ok
                                : text.endsWith(QStringLiteral("Error")) ? Shown::Error
                                                                         : Shown::NoAnswer;
            (faultInForce() ? m_counts.explained : m_counts.clean)[shown] += 1;
        }
    }

    // Once a second: lift a fault whose time is up, or with some chance start
    // a new one. At most one fault at a time, so each is seen on its own.
    void nextFault() {
        const auto now = Clock::now();
        countFrames();
        if (m_faultEnds && now >= *m_faultEnds) {
            m_faultEnds.reset();
            if (m_unplugged) {
                m_unplugged = false;
                plug();
                QTest::mouseClick(m_form->Command2, Qt::LeftButton);
                QTest::mouseClick(m_form->Command5, Qt::LeftButton);
            } else {
                m_sim->setBehaviour(m_faultBoard, {});
            }
            m_quietFrom = now + kSettle;
            return;
        }
        if (m_faultEnds || !std::bernoulli_distribution(0.15)(m_random))
            return;
        const auto length =
            std::chrono::seconds(std::uniform_int_distribution<int>(2, 10)(m_random));
        m_faultEnds = now + length;
        m_quietFrom = now + length + kSettle + 1s;
        if (std::bernoulli_distribution(0.15)(m_random)) {
            ++m_unplugs;
            m_unplugged = true;
            countFrames();
            m_sim->hangUp();
            return;
        }
        const std::string name = kBoardFaults[std::uniform_int_distribution<std::size_t>(
            0, kBoardFaults.size() - 1)(m_random)];
        m_faultBoard = "0" + std::to_string(std::uniform_int_distribution<int>(1, 3)(m_random));
        ++m_boardFaults;
        m_faultsByName[name] += 1;
        m_sim->setBehaviour(m_faultBoard, *rio::sim::parseBehaviour(name));
    }

    // The simulator keeps the newest frames only; count them as they come.
    void countFrames() {
        for (const rio::sim::Frame& frame : m_sim->frames())
            (frame.direction == rio::sim::Direction::Received ? m_requests : m_replies) += 1;
        m_sim->clearFrames();
    }

    std::chrono::minutes m_length;
    std::mt19937 m_random;
    QString m_link;
    std::unique_ptr<rio::sim::Simulator> m_sim;
    std::unique_ptr<rio::panel::Form1> m_form;
    QTimer m_sampler;
    QTimer m_faults;
    Clock::time_point m_begun;
    Clock::time_point m_quietFrom{};
    std::optional<Clock::time_point> m_faultEnds;
    bool m_unplugged = false;
    std::string m_faultBoard;
    QString m_last[3];
    Counts m_counts;
    std::map<std::string, int> m_faultsByName;
    int m_boardFaults = 0;
    int m_unplugs = 0;
    long m_requests = 0;
    long m_replies = 0;
    long long m_rssStart = 0;
    long long m_rssMost = 0;
};

} // namespace

int main(int argc, char** argv) {
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
    QApplication::exec();
    soak.report();
    return soak.falseReports() ? 1 : 0;
}
