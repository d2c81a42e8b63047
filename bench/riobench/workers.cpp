#include "bench/riobench/workers.h"

#include "bench/process_figures/process_figures.h"
#include "bench/riobench/rig.h"

#include <QApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QMouseEvent>
#include <QPointingDevice>

#include <sys/resource.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>

namespace rio::bench {

namespace {

using namespace std::chrono;
using namespace std::chrono_literals;

int intParam(const Params& p, const char* key, int fallback) {
    bool ok = false;
    const int value = p.value(QString::fromLatin1(key)).toInt(&ok);
    return ok ? value : fallback;
}

// diag=1: the line monitor open and a trace file written, as with
// riopanel --monitor --trace.
bool diagnosticsParam(const Params& p) {
    return intParam(p, "diag", 0) != 0;
}

Pacing pacingParam(const Params& p) {
    return p.value(QStringLiteral("pacing")) == QLatin1String("naive") ? Pacing::Naive
                                                                       : Pacing::Panel;
}

double toMs(Clock::duration d) {
    return duration<double, std::milli>(d).count();
}

// Both kinds of exchange put 26 bytes of 10 bits on the line.
double exchangeLineTimeMs(int speed) {
    return 26.0 * 10 * 1000 / speed;
}

QJsonArray toArray(const std::vector<double>& values) {
    QJsonArray array;
    for (double v : values)
        array.append(v);
    return array;
}

sim::SimConfig simConfig(int speed, milliseconds turnaround = 0ms) {
    sim::SimConfig config;
    config.baud = speed;
    config.turnaround = turnaround;
    return config;
}

void silence(sim::SimConfig& config, const QString& boards) {
    for (const QString& n : boards.split(QLatin1Char(','), Qt::SkipEmptyParts))
        config.boards.at(std::size_t(n.toInt() - 1)).behaviour = *sim::parseBehaviour("silent");
}

// Stops the panel and leaves the benchmark's event loop once the handler
// that is running now (possibly deep inside an exchange's wait) has returned.
void stopAndQuit(PanelRig& rig, QEventLoop& loop) {
    QMetaObject::invokeMethod(
        &loop,
        [&rig, &loop] {
            rig.stop();
            loop.quit();
        },
        Qt::QueuedConnection);
}

// The outcome of an exchange, read from its board's status line just before
// the next request goes out.
struct Verdicts {
    int judged = 0;
    int ok = 0;
    int noAnswer = 0;
    int error = 0;
    std::array<int, 4> noAnswerByBoard{};

    void judge(const QString& status, int board) {
        ++judged;
        if (status.contains(QString::fromUtf8(kNoAnswer))) {
            ++noAnswer;
            noAnswerByBoard[std::size_t(board)] += 1;
        } else if (status.contains(QLatin1String("Error"))) {
            ++error;
        } else {
            ++ok;
        }
    }
    [[nodiscard]] QJsonObject json() const {
        return {{"judged", judged}, {"ok", ok}, {"noAnswer", noAnswer}, {"error", error}};
    }
};

// --- 8: start-up ----------------------------------------------------------

// Builds the window as riopanel's main() does and reports when its first
// paint is done; the parent knows when it started this process.
QJsonObject startup(const Params&) {
    serial::PortMap ports;
    panel::Form1 form(std::make_unique<serial::QtSerialControl>(ports));
    form.setPortNamer([ports](int number) { return ports.devicePath(number); });
    form.Form_Load();

    QEventLoop loop;
    Clock::time_point shown{};
    struct PaintWatch : QObject {
        std::function<void()> onFirstPaint;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint && onFirstPaint)
                std::exchange(onFirstPaint, nullptr)();
            return false;
        }
    } watch;
    // Taken once the paint has finished and control is back in the loop.
    watch.onFirstPaint = [&] {
        QTimer::singleShot(0, &loop, [&] {
            shown = Clock::now();
            loop.quit();
        });
    };
    form.installEventFilter(&watch);
    form.show();
    QTimer::singleShot(10s, &loop, &QEventLoop::quit);
    loop.exec();
    if (shown == Clock::time_point{})
        throw std::runtime_error("the window was never painted");
    return {{"shownNs", qint64(duration_cast<nanoseconds>(shown.time_since_epoch()).count())}};
}

// --- 1: exchange overhead -------------------------------------------------

// Polls three ramping boards (every read reply differs, so the reply box
// changes on each read) and takes, per read, the time from the request going
// out to the reply in its box, less the line time of 26 bytes and the
// simulator's turnaround.
QJsonObject overhead(const Params& p) {
    const int speed = intParam(p, "speed", 9600);
    const int wanted = intParam(p, "samples", 50);
    const milliseconds cap(intParam(p, "capMs", 30000));
    sim::SimConfig config = simConfig(speed);
    for (sim::BoardConfig& board : config.boards)
        board.ramp = true;
    InProcessSim line(config);
    PanelRig rig(pacingParam(p), line.path(), speed, diagnosticsParam(p));
    rig.show();
    rig.initialize();

    const double lineMs = exchangeLineTimeMs(speed) + toMs(config.turnaround);
    std::vector<double> overheads;
    // Where each sample's time went: request out to the simulator writing
    // ETX (its line time and its own lateness), ETX written to the panel's
    // read of it, and that read to the reply in its box.
    struct Parts {
        Clock::time_point sent, complete, shown;
    };
    std::vector<Parts> parts;
    QEventLoop loop;
    for (const panel::BoardBinding& board : rig.form().boards())
        QObject::connect(board.readReply, &QLineEdit::textChanged, &loop, [&](const QString& text) {
            const Clock::time_point shown = Clock::now();
            const ExchangeNote& note = rig.port().current();
            if (text.isEmpty() || note.kind != 'R' || int(overheads.size()) >= wanted)
                return;
            overheads.push_back(toMs(shown - note.sent) - lineMs);
            parts.push_back({note.sent, note.complete, shown});
            if (int(overheads.size()) == wanted)
                stopAndQuit(rig, loop);
        });
    rig.start();
    QTimer::singleShot(cap, &loop, [&] { stopAndQuit(rig, loop); });
    loop.exec();

    int reads = 0;
    for (const ExchangeNote& note : rig.port().notes())
        reads += note.kind == 'R';
    std::vector<double> simLate, pickUp, display, panelShare;
    const std::vector<sim::Frame> frames = line.simulator().frames();
    for (const Parts& part : parts) {
        const auto etx = std::find_if(frames.begin(), frames.end(), [&](const sim::Frame& f) {
            return f.direction == sim::Direction::Sent && f.time > part.sent &&
                   f.bytes.size() > 3 && f.bytes[3] == 'R';
        });
        if (etx == frames.end())
            continue;
        simLate.push_back(toMs(etx->time - part.sent) - lineMs);
        pickUp.push_back(toMs(part.complete - etx->time));
        display.push_back(toMs(part.shown - part.complete));
        panelShare.push_back(toMs(part.shown - etx->time));
    }
    return {{"speed", speed},
            {"overheadMs", toArray(overheads)},
            {"reads", reads},
            {"simLateMs", toArray(simLate)},
            {"pickUpMs", toArray(pickUp)},
            {"displayMs", toArray(display)},
            {"panelShareMs", toArray(panelShare)}};
}

// --- 3: silent-board wait -------------------------------------------------

// All boards silent: every exchange waits out its whole wait. Taken from the
// request going out to the exchange's last read of the port.
QJsonObject silentWait(const Params& p) {
    const int speed = intParam(p, "speed", 9600);
    const int wanted = intParam(p, "exchanges", 10);
    sim::SimConfig config = simConfig(speed);
    silence(config, QStringLiteral("1,2,3"));
    InProcessSim line(config);
    PanelRig rig(pacingParam(p), line.path(), speed);
    rig.show();
    rig.initialize();

    std::vector<double> waits, reads, firstReads;
    QEventLoop loop;
    rig.port().beforeRequest = [&](std::string_view) {
        const ExchangeNote& done = rig.port().current();
        if (rig.port().requests() == 0 || int(waits.size()) >= wanted)
            return;
        waits.push_back(toMs(done.lastInput - done.sent));
        reads.push_back(done.inputs);
        firstReads.push_back(toMs(done.firstInput - done.sent));
        if (int(waits.size()) == wanted)
            stopAndQuit(rig, loop);
    };
    rig.start();
    QTimer::singleShot(milliseconds(intParam(p, "capMs", 60000)), &loop,
                       [&] { stopAndQuit(rig, loop); });
    loop.exec();
    return {{"speed", speed},
            {"waitMs", toArray(waits)},
            {"reads", toArray(reads)},
            {"firstReadMs", toArray(firstReads)}};
}

// --- 4: false no-answers --------------------------------------------------

// Boards that start every reply `turnaround` after the request has arrived;
// each exchange's outcome is read off its status line.
QJsonObject lossless(const Params& p) {
    const int speed = intParam(p, "speed", 9600);
    const int wanted = intParam(p, "exchanges", 100);
    InProcessSim line(simConfig(speed, milliseconds(intParam(p, "turnaroundMs", 20))));
    PanelRig rig(pacingParam(p), line.path(), speed);
    rig.show();
    rig.initialize();

    Verdicts verdicts;
    QEventLoop loop;
    rig.port().beforeRequest = [&](std::string_view) {
        const ExchangeNote& done = rig.port().current();
        if (rig.port().requests() == 0 || verdicts.judged >= wanted)
            return;
        verdicts.judge(rig.status(done.board), done.board);
        if (verdicts.judged == wanted)
            stopAndQuit(rig, loop);
    };
    rig.start();
    QTimer::singleShot(milliseconds(intParam(p, "capMs", 600000)), &loop,
                       [&] { stopAndQuit(rig, loop); });
    loop.exec();
    QJsonObject result = verdicts.json();
    result.insert(QStringLiteral("speed"), speed);
    return result;
}

// --- 5: processor time ----------------------------------------------------

struct Accounting {
    Clock::time_point wall;
    double cpuSeconds = 0;
    double userSeconds = 0;
    double systemSeconds = 0;
    long voluntarySwitches = 0;
    std::int64_t requests = 0;
    std::int64_t inputs = 0;
};

double seconds(const timeval& t) {
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

Accounting account(ProbePort& port) {
    Accounting a;
    a.wall = Clock::now();
    a.cpuSeconds = duration<double>(processorTimeUsed()).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    a.userSeconds = seconds(usage.ru_utime);
    a.systemSeconds = seconds(usage.ru_stime);
    a.voluntarySwitches = usage.ru_nvcsw;
    a.requests = port.requests();
    a.inputs = port.inputCalls();
    return a;
}

// The panel with riosim as a separate process, so that this process's own
// accounting holds the panel's work and nothing else: three answering boards,
// three silent ones, or a panel that was started and stopped again.
QJsonObject processorTime(const Params& p) {
    const QString state = p.value(QStringLiteral("state"), QStringLiteral("answering"));
    QStringList simArgs{QStringLiteral("--baud"), QStringLiteral("9600")};
    if (state == QLatin1String("silent"))
        for (const char* board : {"01", "02", "03"})
            simArgs << QStringLiteral("--behaviour") << QStringLiteral("%1=silent").arg(board);
    ExternalSim line(p.value(QStringLiteral("riosim")), simArgs);
    PanelRig rig(pacingParam(p), line.path(), 9600, diagnosticsParam(p));
    rig.show();
    rig.initialize();
    rig.start();
    if (state == QLatin1String("stopped"))
        QTimer::singleShot(300ms, [&rig] { rig.stop(); });

    const milliseconds warmUp(intParam(p, "warmUpMs", 1000));
    const milliseconds span(intParam(p, "ms", 5000));
    Accounting before, after;
    QEventLoop loop;
    QTimer::singleShot(warmUp, Qt::PreciseTimer, &loop, [&] { before = account(rig.port()); });
    QTimer::singleShot(warmUp + span, Qt::PreciseTimer, &loop, [&] {
        after = account(rig.port());
        stopAndQuit(rig, loop);
    });
    loop.exec();

    const double wall = duration<double>(after.wall - before.wall).count();
    const auto exchanges = after.requests - before.requests;
    return {
        {"state", state},
        {"wallSeconds", wall},
        {"cpuPercent", 100 * (after.cpuSeconds - before.cpuSeconds) / wall},
        {"userPercent", 100 * (after.userSeconds - before.userSeconds) / wall},
        {"systemPercent", 100 * (after.systemSeconds - before.systemSeconds) / wall},
        {"sleepsPerSecond", double(after.voluntarySwitches - before.voluntarySwitches) / wall},
        {"exchanges", qint64(exchanges)},
        {"readsPerExchange",
         exchanges > 0 ? double(after.inputs - before.inputs) / double(exchanges) : 0.0},
    };
}

// --- 6: responsiveness ----------------------------------------------------

// All boards silent and the panel running, so the line is nearly always in a
// wait. Another thread posts a press and a release on board 1's first output
// button, as the window system delivers them, at random moments; the figure
// is the time from posting to the first paint of the button in its new
// colour. Only clicks that landed while a wait was open count.
QJsonObject responsiveness(const Params& p) {
    const int wanted = intParam(p, "clicks", 50);
    sim::SimConfig config = simConfig(9600);
    silence(config, QStringLiteral("1,2,3"));
    InProcessSim line(config);
    PanelRig rig(pacingParam(p), line.path(), 9600);
    rig.show();
    rig.initialize();
    rig.start();

    panel::GraphicButton* button = rig.form().Command4[0];
    const QPointF local = QRectF(button->rect()).center();
    const QPointF global = button->mapToGlobal(local);
    const QPointingDevice* mouse = QPointingDevice::primaryPointingDevice();

    std::mutex mutex;
    std::vector<Clock::time_point> posted;
    std::vector<double> latencies;
    int changes = 0;
    int outsideWaits = 0;
    QEventLoop loop;

    struct PaintWatch : QObject {
        std::function<void()> onPaint;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint)
                onPaint();
            return false;
        }
    } watch;
    panel::OleColour shownColour = button->backColor();
    watch.onPaint = [&] {
        if (button->backColor() == shownColour)
            return;
        const Clock::time_point now = Clock::now();
        shownColour = button->backColor();
        Clock::time_point at;
        {
            std::lock_guard lock(mutex);
            at = posted.at(std::size_t(changes));
        }
        ++changes;
        if (rig.form().ReadBusy == 1 || rig.form().WriteBusy == 1)
            latencies.push_back(toMs(now - at));
        else
            ++outsideWaits;
        if (changes == wanted)
            stopAndQuit(rig, loop);
    };
    button->installEventFilter(&watch);

    std::atomic<bool> done{false};
    std::thread poster([&] {
        std::mt19937 random(2024);
        std::uniform_int_distribution<int> gapMs(60, 140);
        for (int i = 0; i < wanted && !done; ++i) {
            std::this_thread::sleep_for(milliseconds(gapMs(random)));
            {
                std::lock_guard lock(mutex);
                posted.push_back(Clock::now());
            }
            // The mouse events are made on the window's thread: making one
            // records its point in the pointing device's table, which the
            // window's thread uses at the same time (a heap corrupted now and
            // then, seen with the naive loop, which pumps all the time).
            QMetaObject::invokeMethod(
                button,
                [button, local, global, mouse] {
                    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton,
                                      Qt::LeftButton, Qt::NoModifier, mouse);
                    QCoreApplication::sendEvent(button, &press);
                    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton,
                                        Qt::NoButton, Qt::NoModifier, mouse);
                    QCoreApplication::sendEvent(button, &release);
                },
                Qt::QueuedConnection);
        }
    });
    QTimer::singleShot(milliseconds(intParam(p, "capMs", 60000)), &loop,
                       [&] { stopAndQuit(rig, loop); });
    loop.exec();
    done = true;
    poster.join();
    return {{"latencyMs", toArray(latencies)}, {"clicks", changes}, {"outsideWaits", outsideWaits}};
}

// --- 2 and 3: polling in turn ---------------------------------------------

// The panel polling three boards at 9600 bit/s for a while (optionally with
// some boards silent): board polls per second, ticks, turn order, outcomes.
QJsonObject polling(const Params& p) {
    sim::SimConfig config = simConfig(9600);
    silence(config, p.value(QStringLiteral("silent")));
    InProcessSim line(config);
    PanelRig rig(Pacing::Panel, line.path(), 9600);
    rig.show();
    rig.initialize();

    int ticks = 0;
    QObject::connect(rig.form().Timer1, &QTimer::timeout, [&ticks] { ++ticks; });
    Verdicts verdicts;
    rig.port().beforeRequest = [&](std::string_view) {
        if (rig.port().requests() > 0)
            verdicts.judge(rig.status(rig.port().current().board), rig.port().current().board);
    };

    QEventLoop loop;
    rig.start();
    const Clock::time_point began = Clock::now();
    Clock::time_point ended;
    int ticksInRun = 0;
    QTimer::singleShot(milliseconds(intParam(p, "ms", 30000)), Qt::PreciseTimer, &loop, [&] {
        ended = Clock::now();
        ticksInRun = ticks;
        stopAndQuit(rig, loop);
    });
    loop.exec();

    // Turn order: R then W of board 1, 2, 3, 1, ... with no exchange missing.
    std::vector<ExchangeNote> notes = rig.port().notes();
    notes.push_back(rig.port().current());
    bool inOrder = true;
    std::array<int, 4> reads{};
    std::vector<Clock::time_point> readTimes;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const int board = int(i / 2) % 3 + 1;
        const char kind = i % 2 == 0 ? 'R' : 'W';
        inOrder = inOrder && notes[i].board == board && notes[i].kind == kind;
        if (notes[i].kind == 'R' && notes[i].sent <= ended) {
            reads[std::size_t(notes[i].board)] += 1;
            readTimes.push_back(notes[i].sent);
        }
    }
    const double runSeconds = duration<double>(ended - began).count();
    const double pollRate = readTimes.size() > 1
                                ? double(readTimes.size() - 1) /
                                      duration<double>(readTimes.back() - readTimes.front()).count()
                                : 0.0;
    const int dueTicks = int(std::floor(runSeconds * 10));
    QJsonObject result = verdicts.json();
    result.insert(QStringLiteral("seconds"), runSeconds);
    result.insert(QStringLiteral("polls"), int(readTimes.size()));
    result.insert(QStringLiteral("pollsPerSecond"), pollRate);
    result.insert(QStringLiteral("timerTicks"), ticksInRun);
    result.insert(QStringLiteral("dueTicks"), dueTicks);
    // A tick lost is one the timer fired that started no board poll: it found
    // the previous tick's exchanges still on the line.
    result.insert(QStringLiteral("lostTicks"), std::max(0, ticksInRun - int(readTimes.size())));
    result.insert(QStringLiteral("inOrder"), inOrder);
    result.insert(QStringLiteral("deepestNesting"), rig.form().deepestTickNesting());
    result.insert(QStringLiteral("readsByBoard"), QJsonArray{reads[1], reads[2], reads[3]});
    result.insert(QStringLiteral("noAnswerByBoard"),
                  QJsonArray{verdicts.noAnswerByBoard[1], verdicts.noAnswerByBoard[2],
                             verdicts.noAnswerByBoard[3]});
    return result;
}

// --- 7: memory ------------------------------------------------------------

// Exchanges back to back at 115200 bit/s with riosim as a separate process
// (its frame record is not the panel's memory): resident size after a
// warm-up and at the end, and the process's peak.
QJsonObject memory(const Params& p) {
    const int exchanges = intParam(p, "exchanges", 100000);
    const int warmUp = std::min(exchanges, intParam(p, "warmUp", 2000));
    ExternalSim line(p.value(QStringLiteral("riosim")),
                     {QStringLiteral("--baud"), QStringLiteral("115200")});
    PanelRig rig(Pacing::Panel, line.path(), 115200, diagnosticsParam(p));
    rig.port().keepNotes = false;
    rig.show();
    rig.initialize();

    Verdicts verdicts;
    rig.port().beforeRequest = [&](std::string_view) {
        if (rig.port().requests() > 0)
            verdicts.judge(rig.status(rig.port().current().board), rig.port().current().board);
    };
    qint64 warmKiB = 0, endKiB = 0;
    const Clock::time_point began = Clock::now();
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] {
        for (int i = 0; i < exchanges; ++i) {
            const int board = (i / 2) % 3 + 1;
            if (i % 2 == 0)
                rig.read(board);
            else
                rig.write(board);
            if (i + 1 == warmUp)
                warmKiB = residentBytes() / 1024;
        }
        endKiB = residentBytes() / 1024;
        loop.quit();
    });
    loop.exec();
    QJsonObject result = verdicts.json();
    result.insert(QStringLiteral("exchanges"), exchanges);
    result.insert(QStringLiteral("warmUp"), warmUp);
    result.insert(QStringLiteral("seconds"), duration<double>(Clock::now() - began).count());
    result.insert(QStringLiteral("rssWarmKiB"), warmKiB);
    result.insert(QStringLiteral("rssEndKiB"), endKiB);
    const long long peak = peakResidentBytes();
    result.insert(QStringLiteral("peakKiB"), peak < 0 ? -1 : peak / 1024);
    return result;
}

} // namespace

QJsonObject runWorker(const QString& name, const Params& params) {
    const std::map<QString, std::function<QJsonObject(const Params&)>> workers{
        {QStringLiteral("startup"), startup},   {QStringLiteral("overhead"), overhead},
        {QStringLiteral("silent"), silentWait}, {QStringLiteral("lossless"), lossless},
        {QStringLiteral("cpu"), processorTime}, {QStringLiteral("click"), responsiveness},
        {QStringLiteral("polling"), polling},   {QStringLiteral("memory"), memory},
    };
    const auto worker = workers.find(name);
    if (worker == workers.end())
        throw std::runtime_error("no worker named " + name.toStdString());
    return worker->second(params);
}

} // namespace rio::bench
