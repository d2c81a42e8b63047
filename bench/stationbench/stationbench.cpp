// stationbench: how fast riostation's window is up, and what it costs while
// it waits for a scan. Each start is a child process of its own (stationbench
// --worker ...) that builds the window as riostation's main does, on a store
// that already exists, and says when its first paint is done; the parent
// knows when it started the child. The idle figure is one child that enters
// an operator, as at the start of a shift, then does nothing for a while:
// its processor time, how often its event loop woke, and every timer event
// delivered, by the class of the object that got it.

#include "bench/process_figures/process_figures.h"
#include "station/station_window.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono;
using Clock = steady_clock;

constexpr milliseconds kStartGoal{500};
constexpr milliseconds kSettle{1000};
constexpr milliseconds kChildBound{60000};

struct Settings {
    int starts = 9;
    milliseconds idle{5000};
};

void usage() {
    std::puts("usage: stationbench [--starts N] [--idle-ms MS]\n"
              "Starts riostation's window N times (default 9), each in a process of its own,\n"
              "and prints the median and longest time from process start to the window\n"
              "painted; then shows the window with an operator entered and, for MS\n"
              "(default 5000), measures its processor time, its event loop's wake-ups and\n"
              "every timer event it handled. The window is drawn offscreen.");
}

rio::station::StationSettings settingsIn(const QString& dir) {
    rio::station::StationSettings settings;
    settings.planPath = dir + QStringLiteral("/plan.ini");
    settings.port.device = QStringLiteral("/dev/null");
    settings.station = QStringLiteral("bench-1");
    settings.store = QStringLiteral("sqlite:") + dir + QStringLiteral("/results.sqlite");
    return settings;
}

// Calls back once, after the first paint has finished and control is back in
// the event loop.
struct FirstPaint : QObject {
    std::function<void()> then;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && then)
            QTimer::singleShot(0, std::exchange(then, nullptr));
        return false;
    }
};

// Every timer event the application delivers, by the receiver's class,
// except to the objects the benchmark itself times with.
struct TimerCount : QObject {
    std::vector<const QObject*> ours;
    std::map<std::string, int> byClass;
    bool counting = false;
    bool eventFilter(QObject* receiver, QEvent* event) override {
        if (counting && event->type() == QEvent::Timer &&
            std::find(ours.begin(), ours.end(), receiver) == ours.end())
            ++byClass[receiver->metaObject()->className()];
        return false;
    }
};

int startWorker(const QString& dir) {
    rio::station::StationWindow window(settingsIn(dir));
    FirstPaint watch;
    QEventLoop loop;
    Clock::time_point shown{};
    watch.then = [&] {
        shown = Clock::now();
        loop.quit();
    };
    window.installEventFilter(&watch);
    window.show();
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
    bound.start(10s);
    loop.exec();
    if (shown == Clock::time_point{}) {
        std::fprintf(stderr, "stationbench: the window was never painted\n");
        return 1;
    }
    std::printf("shown %lld\n", static_cast<long long>(
                                    duration_cast<nanoseconds>(shown.time_since_epoch()).count()));
    return 0;
}

int idleWorker(const QString& dir, milliseconds idle) {
    rio::station::StationWindow window(settingsIn(dir));
    window.show();
    QApplication::setActiveWindow(&window);
    window.setOperator(QStringLiteral("op-1"));

    TimerCount timers;
    int wakeUps = 0;
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                     &window, [&] {
                         if (timers.counting)
                             ++wakeUps;
                     });
    QTimer settle, end;
    settle.setSingleShot(true);
    end.setSingleShot(true);
    settle.setTimerType(Qt::PreciseTimer);
    end.setTimerType(Qt::PreciseTimer);
    timers.ours = {&settle, &end};
    qApp->installEventFilter(&timers);

    QEventLoop loop;
    nanoseconds cpuBefore{};
    QElapsedTimer wall;
    QObject::connect(&settle, &QTimer::timeout, [&] {
        cpuBefore = rio::bench::processorTimeUsed();
        wall.start();
        timers.counting = true;
        end.start(idle);
    });
    QObject::connect(&end, &QTimer::timeout, [&] {
        timers.counting = false;
        loop.quit();
    });
    settle.start(kSettle);
    loop.exec();
    const double cpuMs =
        duration<double, std::milli>(rio::bench::processorTimeUsed() - cpuBefore).count();
    const double wallMs = double(wall.nsecsElapsed()) / 1e6;
    std::printf("idle %.3f %.3f %d\n", cpuMs, wallMs, wakeUps);
    for (const auto& [name, count] : timers.byClass)
        std::printf("timer %s %d\n", name.c_str(), count);
    return 0;
}

struct Child {
    bool ok = false;
    Clock::time_point started;
    QByteArray out;
};

Child runChild(const QStringList& arguments) {
    Child child;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.started = Clock::now();
    process.start(QCoreApplication::applicationFilePath(), arguments);
    child.ok = process.waitForFinished(int(kChildBound.count())) &&
               process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    child.out = process.readAllStandardOutput();
    return child;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int runBenchmark(const Settings& settings) {
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "stationbench: no temporary folder\n");
        return 2;
    }
    const QString path = dir.path();
    // The first start makes the store, as a station's first start does; the
    // ones measured find it, as every later start does.
    if (!runChild({QStringLiteral("--worker"), QStringLiteral("start"), path}).ok)
        return 2;
    std::vector<double> starts;
    for (int i = 0; i < settings.starts; ++i) {
        const Child child = runChild({QStringLiteral("--worker"), QStringLiteral("start"), path});
        const QList<QByteArray> words = child.out.trimmed().split(' ');
        if (!child.ok || words.size() != 2 || words[0] != "shown") {
            std::fprintf(stderr, "stationbench: a start gave no figure\n");
            return 2;
        }
        const Clock::time_point shown{nanoseconds(words[1].toLongLong())};
        starts.push_back(duration<double, std::milli>(shown - child.started).count());
    }

    const Child idle = runChild({QStringLiteral("--worker"), QStringLiteral("idle"), path,
                                 QString::number(settings.idle.count())});
    double cpuMs = -1, wallMs = 0;
    int wakeUps = 0;
    QStringList timerLines;
    for (const QByteArray& line : idle.out.split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() == 4 && words[0] == "idle") {
            cpuMs = words[1].toDouble();
            wallMs = words[2].toDouble();
            wakeUps = words[3].toInt();
        } else if (words.size() == 3 && words[0] == "timer") {
            timerLines << QStringLiteral("%1 x%2").arg(QString::fromLatin1(words[1]),
                                                       QString::fromLatin1(words[2]));
        }
    }
    if (!idle.ok || cpuMs < 0 || wallMs <= 0) {
        std::fprintf(stderr, "stationbench: the idle run gave no figure\n");
        return 2;
    }
    int timerEvents = 0;
    for (const QString& line : timerLines)
        timerEvents += line.section(QLatin1Char('x'), -1).toInt();

    std::printf("stationbench: riostation's window, offscreen; %d starts, %.1f s idle\n",
                settings.starts, wallMs / 1000);
    std::printf("%-50s %10s %10s %10s\n", "what", "median", "max", "goal");
    std::printf("%-50s %7.0f ms %7.0f ms %10s\n", "start-up, process start to window painted",
                median(starts), *std::max_element(starts.begin(), starts.end()),
                qUtf8Printable(QStringLiteral("<= %1 ms").arg(kStartGoal.count())));
    std::printf("%-50s %8.2f %% %10s %10s\n", "idle, operator entered: processor time of a core",
                100.0 * cpuMs / wallMs, "", "0 %");
    std::printf("%-50s %10d %10s %10s\n", "idle: event loop wake-ups", wakeUps, "", "0");
    std::printf("%-50s %10d %10s %10s\n", "idle: timer events", timerEvents, "", "0");
    for (const QString& line : timerLines)
        std::printf("  to %s\n", qUtf8Printable(line));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Drawn offscreen always, so that runs compare across machines with and
    // without a display. Set before any Qt application exists.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QByteArray dir = "/tmp/stationbench-runtime-" + QByteArray::number(getuid());
        ::mkdir(dir.constData(), 0700);
        qputenv("XDG_RUNTIME_DIR", dir);
    }
    if (argc >= 4 && std::string_view(argv[1]) == "--worker") {
        QApplication app(argc, argv);
        const QString dir = QString::fromLocal8Bit(argv[3]);
        if (std::string_view(argv[2]) == "start")
            return startWorker(dir);
        if (std::string_view(argv[2]) == "idle" && argc >= 5)
            return idleWorker(dir, milliseconds(std::atoi(argv[4])));
        return 2;
    }

    QCoreApplication app(argc, argv);
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--starts" && i + 1 < argc) {
            settings.starts = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--idle-ms" && i + 1 < argc) {
            settings.idle = milliseconds(std::max(1, std::atoi(argv[++i])));
        } else if (arg == "--help" || arg == "-h") {
            usage();
            return 0;
        } else {
            std::fprintf(stderr, "stationbench: unknown argument %s\n", argv[i]);
            usage();
            return 2;
        }
    }
    return runBenchmark(settings);
}
