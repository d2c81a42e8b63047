// linestation: one station of a line that does nothing but record runs and
// send them to the line's server, for the line's load checks (the upload
// test with two stations at once, and the bench's four stations, drained
// queue and processor time with the server away). Each run is kept in the
// station's outbox first and completed as a test would complete it; the
// background uploader is nudged after each, as the station nudges it. One
// JSON line on stdout tells how it ended.

#include "bench/process_figures/process_figures.h"
#include "store/results_store.h"
#include "store/upload.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <memory>

namespace {

using namespace std::chrono;
using rio::boardtest::Measurement;
using rio::boardtest::StepOutcome;
using rio::boardtest::StepResult;
using rio::boardtest::TestRecord;
using namespace rio::store;

// Exit statuses: nothing waits, runs still wait, could not run.
constexpr int kNothingWaits = 0;
constexpr int kRunsWait = 1;
constexpr int kCouldNotRun = 2;

// Every seventh run fails one measurement, so that the server sees both
// verdicts and failed measurements.
constexpr int kFailEvery = 7;

struct Settings {
    QString store;
    QString station;
    int runs = 0;
    int steps = 4;
    int measurements = 4;
    bool upload = true;
    bool drainOnly = false;
    seconds wait{60};
};

struct Outcome {
    int runs = 0;
    int waiting = 0;
    QString reason;
};

// Run i of the station, started now: steps "step_1".."step_K", each with M
// measurements, numbers with limits and input states as texts in turn. The unit is named
// after the station and the run, so that two stations never share one.
TestRecord makeRun(const Settings& settings, int i) {
    TestRecord run;
    run.unit = QStringLiteral("LS-%1-%2").arg(settings.station).arg(i);
    run.station = settings.station;
    run.address = QStringLiteral("01");
    run.host = settings.station;
    run.version = QStringLiteral("linestation");
    run.planFile = QStringLiteral("/etc/riopanel/board-test.ini");
    run.planSha256 =
        QStringLiteral("e219b50574a69d1da06b6c19f44c592c94dbd9409cfd4d1383bfb0af2089f783");
    run.start = WallClock::now();
    const bool fails = i % kFailEvery == kFailEvery - 1;
    for (int k = 1; k <= settings.steps; ++k) {
        StepResult step{
            QStringLiteral("step_%1").arg(k), StepOutcome::Pass, {}, {}, milliseconds(20 * k)};
        for (int m = 1; m <= settings.measurements; ++m) {
            const QString name = QStringLiteral("m%1_%2").arg(k).arg(m);
            if (m % 2 == 0) {
                const QString inputs = QStringLiteral("%1").arg(i % 256, 8, 2, QLatin1Char('0'));
                step.measurements.push_back({name, inputs, inputs, inputs, StepOutcome::Pass});
            } else {
                step.measurements.push_back({name, 480.5 + i % 50, 100, 900, StepOutcome::Pass});
            }
        }
        if (fails && k == 1 && !step.measurements.empty()) {
            Measurement& failed = step.measurements.front();
            failed.value = 9999;
            failed.outcome = StepOutcome::Fail;
            step.outcome = StepOutcome::Fail;
            step.message = QStringLiteral("%1 9999 outside 100..900").arg(failed.name);
        }
        run.steps.push_back(std::move(step));
    }
    return run;
}

// Records the runs, nudging the uploader after each, then waits until the
// uploader says nothing waits or the wait is over.
Outcome recordAndUpload(const Settings& settings, const StoreLocation& location) {
    Outcome outcome;
    auto opened = openStore(location, Access::ReadWrite, Durability::Synced);
    if (!opened) {
        outcome.reason = opened.error();
        outcome.waiting = -1;
        return outcome;
    }
    ResultsStore& store = *opened.value();

    // The outbox read on this thread, to tell an early pass's "nothing
    // waits", queued before the last runs were recorded, from the last one's.
    std::unique_ptr<Uploader> outbox;
    std::unique_ptr<BackgroundUploader> uploader;
    // A station is never a single-threaded process (its window's toolkit
    // runs threads of its own), and once a process has a second thread,
    // glibc's malloc takes its locks on every call: some ten per cent of
    // this loop. A station without an uploader is given an idle thread, so
    // that beside one with its server down the figures compare the
    // uploader's work, not malloc's single-thread shortcut.
    struct IdleThread : QThread {
        ~IdleThread() override {
            quit();
            wait();
        }
    } idle;
    if (!location.server || !settings.upload)
        idle.start();
    if (location.server) {
        auto made = Uploader::open(location);
        if (!made) {
            outcome.reason = made.error();
            outcome.waiting = -1;
            return outcome;
        }
        outbox = std::move(made.value());
        if (settings.upload) {
            uploader = std::make_unique<BackgroundUploader>(location);
            QObject::connect(uploader.get(), &BackgroundUploader::progress, uploader.get(),
                             [&](const UploadProgress& progress) {
                                 outcome.reason = progress.reason;
                                 if (progress.waiting != 0)
                                     return;
                                 const StoreResult<int> left = outbox->waiting();
                                 if (left && left.value() == 0)
                                     QCoreApplication::quit();
                             });
            uploader->start();
        }
    }

    for (int i = 1; i <= settings.runs; ++i) {
        TestRecord run = makeRun(settings, i);
        StoreStatus status = store.beginRun(run);
        // Ended as it is completed: the upload's latency counts from here.
        run.end = WallClock::now();
        if (status)
            status = store.completeRun(run);
        if (!status) {
            outcome.reason = status.error();
            outcome.waiting = -1;
            return outcome;
        }
        ++outcome.runs;
        if (uploader)
            uploader->nudge();
    }

    if (!outbox)
        return outcome;
    if (uploader && settings.wait > seconds(0)) {
        QTimer::singleShot(settings.wait, QCoreApplication::instance(), &QCoreApplication::quit);
        QCoreApplication::exec();
    }
    // What the uploader reported and was not taken yet (all of it when there
    // was no wait); then its thread ends after the run in flight, before the
    // outbox is read for the last time.
    QCoreApplication::processEvents();
    uploader.reset();
    const StoreResult<int> left = outbox->waiting();
    outcome.waiting = left ? left.value() : -1;
    if (!left)
        outcome.reason = left.error();
    else if (outcome.waiting > 0 && !settings.upload)
        outcome.reason = QStringLiteral("not uploading (--no-upload)");
    else if (outcome.waiting > 0 && outcome.reason.isEmpty())
        outcome.reason = QStringLiteral("still waiting after %1 s").arg(settings.wait.count());
    return outcome;
}

// One uploader sends what waits in the outbox, until nothing waits or the
// wait is over.
Outcome drain(const Settings& settings, const StoreLocation& location) {
    Outcome outcome;
    auto made = Uploader::open(location);
    if (!made) {
        outcome.reason = made.error();
        outcome.waiting = -1;
        return outcome;
    }
    const UploadProgress progress = made.value()->upload(steady_clock::now() + settings.wait);
    outcome.runs = progress.uploaded;
    outcome.waiting = progress.waiting;
    outcome.reason = progress.reason;
    return outcome;
}

} // namespace

int main(int argc, char** argv) {
    QElapsedTimer wall;
    wall.start();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("linestation"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Records synthetic board test runs as a station of a line and sends them "
                       "to the line's server; prints one JSON line: station, runs, waiting, "
                       "cpu_ms, wall_ms, reason. Exit 0 when nothing waits (or the location "
                       "names no server, or with --no-upload), 1 when runs still wait, 2 when it "
                       "could not run."));
    parser.addHelpOption();
    const QCommandLineOption storeOption(QStringLiteral("store"),
                                         QStringLiteral("Where runs are kept: default, "
                                                        "sqlite:PATH or postgresql://..."),
                                         QStringLiteral("URL"));
    const QCommandLineOption stationOption(
        QStringLiteral("station"), QStringLiteral("The station's name."), QStringLiteral("NAME"));
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Runs to record."),
                                        QStringLiteral("N"));
    const QCommandLineOption stepsOption(QStringLiteral("steps"),
                                         QStringLiteral("Steps per run (default 4)."),
                                         QStringLiteral("K"), QStringLiteral("4"));
    const QCommandLineOption measurementsOption(
        QStringLiteral("measurements"), QStringLiteral("Measurements per step (default 4)."),
        QStringLiteral("M"), QStringLiteral("4"));
    const QCommandLineOption noUploadOption(
        QStringLiteral("no-upload"),
        QStringLiteral("Only record: the runs stay in the outbox (exit 0)."));
    const QCommandLineOption drainOption(
        QStringLiteral("drain-only"),
        QStringLiteral("Record nothing: one uploader sends what waits in the outbox; runs is "
                       "what it sent."));
    const QCommandLineOption waitOption(
        QStringLiteral("wait-seconds"),
        QStringLiteral("How long to wait for the upload after the last run (default 60)."),
        QStringLiteral("S"), QStringLiteral("60"));
    parser.addOptions({storeOption, stationOption, runsOption, stepsOption, measurementsOption,
                       noUploadOption, drainOption, waitOption});
    parser.process(app);

    const auto number = [&](const QCommandLineOption& option, int least, int& into) {
        bool ok = false;
        into = parser.value(option).toInt(&ok);
        return ok && into >= least;
    };
    Settings settings;
    settings.store = parser.value(storeOption);
    settings.station = parser.value(stationOption);
    settings.upload = !parser.isSet(noUploadOption);
    settings.drainOnly = parser.isSet(drainOption);
    int wait = 0;
    const bool numbersOk = (settings.drainOnly || number(runsOption, 1, settings.runs)) &&
                           number(stepsOption, 0, settings.steps) &&
                           number(measurementsOption, 0, settings.measurements) &&
                           number(waitOption, 0, wait);
    settings.wait = seconds(wait);
    if (settings.store.isEmpty() || settings.station.isEmpty() || !numbersOk) {
        std::fprintf(stderr,
                     "linestation: --store, --station and --runs (1 or more) are needed; "
                     "counts are whole numbers\n%s",
                     qUtf8Printable(parser.helpText()));
        return kCouldNotRun;
    }
    const ParsedLocation parsed = parseStoreLocation(settings.store);
    if (!parsed.location) {
        std::fprintf(stderr, "linestation: %s\n", qUtf8Printable(parsed.error));
        return kCouldNotRun;
    }
    if (settings.drainOnly && !parsed.location->server) {
        std::fprintf(stderr, "linestation: --drain-only needs a server in --store\n");
        return kCouldNotRun;
    }

    const Outcome outcome = settings.drainOnly ? drain(settings, *parsed.location)
                                               : recordAndUpload(settings, *parsed.location);
    const QJsonObject line{
        {QStringLiteral("station"), settings.station},
        {QStringLiteral("runs"), outcome.runs},
        {QStringLiteral("waiting"), outcome.waiting},
        {QStringLiteral("cpu_ms"),
         qint64(duration_cast<milliseconds>(rio::bench::processorTimeUsed()).count())},
        {QStringLiteral("wall_ms"), wall.elapsed()},
        {QStringLiteral("reason"), outcome.reason}};
    std::printf("%s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
    if (!outcome.reason.isEmpty())
        std::fprintf(stderr, "linestation: %s\n", qUtf8Printable(outcome.reason));
    if (outcome.waiting < 0 || (!settings.drainOnly && outcome.runs < settings.runs))
        return kCouldNotRun;
    return outcome.waiting == 0 || !settings.upload ? kNothingWaits : kRunsWait;
}
