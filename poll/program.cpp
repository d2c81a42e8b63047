#include "program.h"

#include "board_test.h"
#include "counters.h"
#include "exchange.h"
#include "exchange_output.h"
#include "plan.h"
#include "poller.h"
#include "qt_serial_control.h"
#include "report.h"
#include "settings_text.h"
#include "stored_run.h"
#include "trace_writer.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QSysInfo>

#include <cstdio>
#include <memory>

namespace rio::poll {

namespace {

using namespace std::chrono;

void say(const QString& text) {
    std::fprintf(stderr, "riopoll: %s\n", qUtf8Printable(text));
    std::fflush(stderr);
}

QString portName(const Options& options) {
    return options.device.isEmpty() ? QStringLiteral("port %1").arg(*options.port) : options.device;
}

// The port opened as the panel opens it: --device stands for port 1 of a
// numbering that holds only that device. Throws serial::PortError with the
// reason when it will not open.
std::unique_ptr<serial::QtSerialControl> openPort(const Options& options, std::int32_t speed) {
    serial::PortMap ports;
    int number = options.port.value_or(1);
    if (!options.device.isEmpty()) {
        ports = serial::PortMap([] { return std::vector<serial::PresentDevice>{}; });
        ports.addOverride({1, options.device});
        number = 1;
    }
    auto port = std::make_unique<serial::QtSerialControl>(ports);
    port->setCommPort(number);
    port->setSettings(serial::settingsText(speed));
    port->setPortOpen(true);
    return port;
}

// The line the exchanges share, with what it points at.
struct LineParts {
    std::unique_ptr<serial::QtSerialControl> port;
    std::int16_t readBusy = 0;
    std::int16_t writeBusy = 0;
    std::int32_t speed = 9600;
    exchange::QtEventPump pump;
    exchange::FrameFanout observers;

    [[nodiscard]] exchange::Line line() {
        return exchange::Line{.port = port.get(),
                              .readBusy = &readBusy,
                              .writeBusy = &writeBusy,
                              .speed = &speed,
                              .pump = &pump,
                              .observer = &observers};
    }
};

// The steps of a test that could not start: the first the plan holds (all,
// when the plan is unknown) carries the reason as its error, the others are
// not run. Nothing was sent, so teardown has nothing to undo.
std::vector<StepResult> stepsNotRun(const Plan* plan, const QString& reason) {
    const bool present[] = {!plan || plan->communication, !plan || plan->loopback,
                            !plan || plan->analog1 || plan->analog2};
    const char* names[] = {"communication", "loopback", "analog"};
    std::vector<StepResult> steps;
    bool told = false;
    for (std::size_t i = 0; i < 3; ++i) {
        StepResult step;
        step.name = QString::fromLatin1(names[i]);
        if (!present[i]) {
            step.message = QStringLiteral("not in the plan");
        } else if (!told) {
            step.outcome = StepOutcome::Error;
            step.message = reason;
            told = true;
        } else {
            step.message = QStringLiteral("not run: the test could not start");
        }
        steps.push_back(step);
    }
    StepResult teardown;
    teardown.name = QStringLiteral("teardown");
    if (!told) {
        teardown.outcome = StepOutcome::Error;
        teardown.message = reason;
    } else {
        teardown.message = QStringLiteral("not run: nothing was sent");
    }
    steps.push_back(teardown);
    return steps;
}

// Writes the report when asked for, completes the stored run, prints the
// summary, and gives the exit status: the verdict's, or 2 when the report or
// the stored run asked for cannot be written.
int finishTest(const Options& options, TestRecord& record, StoredRun& stored) {
    record.end = WallClock::now();
    QString folder;
    bool reportFailed = false;
    if (!options.test->reportDir.isEmpty()) {
        const WrittenReport written = writeReport(options.test->reportDir, record);
        folder = written.folder;
        if (folder.isEmpty()) {
            say(QStringLiteral("could not write the report: %1").arg(written.error));
            reportFailed = true;
        }
    }
    const QString notStored = stored.complete(record);
    QString summary = summaryText(record, folder);
    if (!notStored.isEmpty())
        summary += QStringLiteral("result not stored: %1\n").arg(notStored);
    std::fputs(qUtf8Printable(summary), stdout);
    std::fflush(stdout);
    return reportFailed || !notStored.isEmpty() ? 2 : exitStatus(record.verdict());
}

} // namespace

int runPolling(const Options& options, StopSignals& stop) {
    const PollSettings& settings = options.poll;
    LineParts parts;
    parts.speed = options.speed.value_or(9600);

    trace::TraceWriter traceFile;
    if (!settings.tracePath.isEmpty()) {
        if (!traceFile.open(settings.tracePath)) {
            say(QStringLiteral("cannot open the trace %1: %2")
                    .arg(settings.tracePath, traceFile.reason()));
            return 2;
        }
        parts.observers.add(&traceFile);
    }
    try {
        parts.port = openPort(options, parts.speed);
    } catch (const serial::PortError& error) {
        say(QStringLiteral("could not open the port %1: %2")
                .arg(portName(options), QString::fromLocal8Bit(error.what())));
        return 2;
    }

    ExchangePrinter printer(settings.format, stdout);
    trace::LineCounters counters;
    trace::CountersObserver counting(counters);
    parts.observers.add(&printer);
    parts.observers.add(&counting);

    Poller poller(parts.line(), settings);
    QObject::connect(&stop, &StopSignals::stopRequested, &poller, &Poller::stop);
    QObject::connect(&poller, &Poller::finished, QCoreApplication::instance(),
                     &QCoreApplication::quit, Qt::QueuedConnection);
    if (stop.requested())
        return 2;
    poller.start();
    QCoreApplication::exec();

    traceFile.close();
    std::fputs(qUtf8Printable(pollSummary(counters, settings.boards)), stderr);
    if (stop.requested())
        say(QStringLiteral("stopped by %1 after %2 board polls")
                .arg(stop.name())
                .arg(poller.boardPolls()));
    if (traceFile.stopped())
        say(QStringLiteral("the trace stopped: %1").arg(traceFile.reason()));
    return allAccepted(counters, settings.boards.size()) ? 0 : 1;
}

int runBoardTest(const Options& options, StopSignals& stop) {
    TestRecord record;
    record.start = WallClock::now();
    record.unit = options.test->unit;
    record.host = QSysInfo::machineHostName();
    record.planFile = options.test->planPath;
    record.station = options.test->station.isEmpty() ? record.host : options.test->station;
    record.version = QCoreApplication::applicationName() + QLatin1Char(' ') +
                     QCoreApplication::applicationVersion();

    // The run is in the store as RUNNING before anything can be sent.
    StoredRun stored(options.test->store);
    if (const QString why = stored.begin(record); !why.isEmpty()) {
        record.message = QStringLiteral("the results store cannot be written: %1").arg(why);
        say(record.message);
        record.steps = stepsNotRun(nullptr, record.message);
        return finishTest(options, record, stored);
    }

    // Everything that can refuse the test does so before a byte is sent.
    QFile file(options.test->planPath);
    if (!file.open(QIODevice::ReadOnly)) {
        record.message = QStringLiteral("cannot read the plan %1: %2")
                             .arg(options.test->planPath, file.errorString());
        say(record.message);
        record.steps = stepsNotRun(nullptr, record.message);
        return finishTest(options, record, stored);
    }
    const QByteArray text = file.readAll();
    record.planSha256 =
        QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex());
    const ParsedPlan parsed =
        parsePlan(std::string_view(text.constData(), std::size_t(text.size())));
    if (!parsed.plan) {
        record.message =
            QStringLiteral("the plan %1 is refused: %2")
                .arg(options.test->planPath, QString::fromStdString(describe(parsed.error)));
        say(QStringLiteral("%1: %2").arg(options.test->planPath,
                                         QString::fromStdString(describe(parsed.error))));
        record.steps = stepsNotRun(nullptr, record.message);
        return finishTest(options, record, stored);
    }
    const Plan& plan = *parsed.plan;
    record.address = QString::fromLatin1(plan.board.data(), qsizetype(plan.board.size()));

    LineParts parts;
    parts.speed = options.speed.value_or(plan.speed);
    try {
        parts.port = openPort(options, parts.speed);
    } catch (const serial::PortError& error) {
        record.message = QStringLiteral("could not open the port %1: %2")
                             .arg(portName(options), QString::fromLocal8Bit(error.what()));
        say(record.message);
        record.steps = stepsNotRun(&plan, record.message);
        return finishTest(options, record, stored);
    }

    BoardTest test(parts.line(), parts.observers, plan, [&stop] { return stop.requested(); });
    test.setStopReason([&stop] { return stop.name(); });
    test.setProgress([&](const QString& step) {
        say(QStringLiteral("%1: board %2 at %3 bit/s").arg(step, record.address).arg(parts.speed));
    });
    record.steps = test.run();
    if (stop.requested())
        record.message = QStringLiteral("interrupted by %1").arg(stop.name());
    return finishTest(options, record, stored);
}

} // namespace rio::poll
