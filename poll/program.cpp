#include "poll/program.h"

#include "boardtest/board_test.h"
#include "boardtest/plan.h"
#include "boardtest/report_files.h"
#include "boardtest/test_start.h"
#include "exchange/exchange.h"
#include "poll/console.h"
#include "poll/exchange_output.h"
#include "poll/poller.h"
#include "poll/stored_run.h"
#include "trace/counters.h"
#include "trace/trace_writer.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

namespace rio::poll {

// riopoll is a face of the board test: its plan, steps, record and report.
using namespace boardtest;

namespace {

using namespace std::chrono;

void say(const QString& text) {
    consoleWrite(stderr, QStringLiteral("riopoll: %1\n").arg(text).toStdString());
}

TestPort testPort(const Options& options) {
    return TestPort{options.device, options.port};
}

// How long riopoll tries to send its run to a line's server before it exits.
constexpr std::chrono::seconds kUploadPatience{5};

// Writes the report when asked for, completes the stored run, prints the
// summary, and gives the exit status: the verdict's, or 2 when the report or
// the stored run asked for was not written (a run whose record is lost did
// not do its job). `reportRefused` is why the report folder cannot be used,
// when that is already known.
int finishTest(const Options& options, TestRecord& record, StoredRun& stored,
               const QString& reportRefused = {}) {
    record.end = WallClock::now();
    QString folder;
    QString notWritten = reportRefused;
    if (!options.test->reportDir.isEmpty() && notWritten.isEmpty()) {
        const WrittenReport written = writeReport(options.test->reportDir, record);
        folder = written.folder;
        notWritten = written.error;
    }
    const QString notStored = stored.complete(record);
    QString summary = summaryText(record, folder);
    if (!notWritten.isEmpty())
        summary += QStringLiteral("report not written: %1\n").arg(notWritten);
    if (!notStored.isEmpty())
        summary += QStringLiteral("result not stored: %1\n").arg(notStored);
    // Nobody may read it any more (`| head`); the report, the store and the
    // exit status still tell the verdict.
    consoleWrite(stdout, summary.toStdString());
    // After the verdict is out and kept: a server that is away costs the
    // operator a few seconds, never the result.
    if (notStored.isEmpty())
        if (const QString forwarded = stored.forward(kUploadPatience); !forwarded.isEmpty())
            say(forwarded);
    return notWritten.isEmpty() && notStored.isEmpty() ? exitStatus(record.verdict()) : 2;
}

} // namespace

int runPolling(const Options& options, StopSignals& stop) {
    const PollSettings& settings = options.poll;
    const std::int32_t speed = options.speed.value_or(9600);

    trace::TraceWriter traceFile;
    if (!settings.tracePath.isEmpty()) {
        bool told = false;
        const auto waitForReader = [&](milliseconds time) {
            if (!std::exchange(told, true))
                say(QStringLiteral("waiting for a reader of the trace %1").arg(settings.tracePath));
            return !stop.waitForStop(time);
        };
        if (!traceFile.open(settings.tracePath, waitForReader)) {
            say(QStringLiteral("cannot open the trace %1: %2%3")
                    .arg(settings.tracePath, traceFile.reason(),
                         stop.requested() ? QStringLiteral(" (stopped by %1)").arg(stop.name())
                                          : QString()));
            return 2;
        }
        // Polling with the record already lost would not do its job.
        if (traceFile.stopped()) {
            say(QStringLiteral("cannot write the trace %1: %2")
                    .arg(settings.tracePath, traceFile.reason()));
            return 2;
        }
    }
    std::unique_ptr<serial::PortControl> port;
    try {
        port = openTestPort(testPort(options), speed);
    } catch (const serial::PortError& error) {
        say(QStringLiteral("could not open the port %1: %2")
                .arg(portName(testPort(options)), QString::fromLocal8Bit(error.what())));
        return 2;
    }

    exchange::Line line(*port);
    line.speed() = speed;
    ExchangePrinter printer(settings.format, stdout);
    trace::LineCounters counters;
    trace::CountersObserver counting(counters);
    if (!settings.tracePath.isEmpty())
        line.frames().add(&traceFile);
    line.frames().add(&printer);
    line.frames().add(&counting);

    Poller poller(line, settings);
    QObject::connect(&stop, &StopSignals::stopRequested, &poller, &Poller::stop);
    // Polling goes on while standard output or the trace keeps its exchanges;
    // with both gone nobody would learn them, and the run ends as if its
    // count were done.
    bool unread = false;
    const auto endWhenUnread = [&] {
        if (unread || !consoleClosed(stdout) || (traceFile.isOpen() && !traceFile.stopped()))
            return;
        unread = true;
        QMetaObject::invokeMethod(&poller, &Poller::stop, Qt::QueuedConnection);
    };
    printer.setOnClosed(endWhenUnread);
    QObject::connect(&traceFile, &trace::TraceWriter::traceStopped, &poller, endWhenUnread);
    QObject::connect(&poller, &Poller::finished, QCoreApplication::instance(),
                     &QCoreApplication::quit, Qt::QueuedConnection);
    if (stop.requested())
        return 2;
    poller.start();
    QCoreApplication::exec();

    traceFile.close();
    consoleWrite(stderr, pollSummary(counters, settings.boards).toStdString());
    if (stop.requested())
        say(QStringLiteral("stopped by %1 after %2 board polls")
                .arg(stop.name())
                .arg(poller.boardPolls()));
    else if (unread)
        say(QStringLiteral("stopped after %1 board polls: nobody reads standard output")
                .arg(poller.boardPolls()));
    if (traceFile.stopped()) {
        say(QStringLiteral("the trace stopped: %1").arg(traceFile.reason()));
        return 2;
    }
    return allAccepted(counters, settings.boards.size()) ? 0 : 1;
}

int runBoardTest(const Options& options, StopSignals& stop) {
    TestRecord record =
        newRecord(options.test->unit, options.test->station, options.test->planPath);

    // The run is in the store as RUNNING before anything can be sent.
    StoredRun stored(options.test->store);
    if (const QString why = stored.begin(record); !why.isEmpty()) {
        record.message = QStringLiteral("the results store cannot be written: %1").arg(why);
        say(record.message);
        record.steps = stepsNotRun(nullptr, record.message);
        return finishTest(options, record, stored);
    }

    // Everything that can refuse the test does so before a byte is sent.
    const LoadedPlan loaded = loadPlan(options.test->planPath);
    record.planSha256 = loaded.sha256;
    if (!loaded.plan) {
        record.message = loaded.message;
        say(loaded.refusal.isEmpty()
                ? record.message
                : QStringLiteral("%1: %2").arg(options.test->planPath, loaded.refusal));
        record.steps = stepsNotRun(nullptr, record.message);
        return finishTest(options, record, stored);
    }
    const Plan& plan = *loaded.plan;
    record.address = QString::fromLatin1(plan.board.data(), qsizetype(plan.board.size()));
    if (!options.test->reportDir.isEmpty()) {
        if (const auto refused = checkReportFolder(options.test->reportDir)) {
            record.message = QStringLiteral("no report can be written: %1").arg(*refused);
            say(record.message);
            record.steps = stepsNotRun(&plan, record.message);
            return finishTest(options, record, stored, *refused);
        }
    }

    const std::int32_t speed = options.speed.value_or(plan.speed);
    std::unique_ptr<serial::PortControl> port;
    try {
        port = openTestPort(testPort(options), speed);
    } catch (const serial::PortError& error) {
        record.message =
            QStringLiteral("could not open the port %1: %2")
                .arg(portName(testPort(options)), QString::fromLocal8Bit(error.what()));
        say(record.message);
        record.steps = stepsNotRun(&plan, record.message);
        return finishTest(options, record, stored);
    }

    exchange::Line line(*port);
    line.speed() = speed;
    BoardTest test(line, plan, [&stop] { return stop.requested(); });
    test.setStopReason([&stop] { return stop.name(); });
    test.setProgress([&](const QString& step) {
        say(QStringLiteral("%1: board %2 at %3 bit/s").arg(step, record.address).arg(speed));
    });
    record.steps = test.run();
    if (stop.requested())
        record.message = QStringLiteral("interrupted by %1").arg(stop.name());
    return finishTest(options, record, stored);
}

} // namespace rio::poll
