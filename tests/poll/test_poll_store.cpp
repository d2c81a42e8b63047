// riopoll with a results store, as processes: a test's run goes into the
// store before anything is sent and is completed at the end; a store that
// cannot be written refuses the test with nothing sent to the line; a
// completion the store refuses makes the exit status 2; --history, --yield
// and --pareto print a store made here, byte for byte as written by hand.
#include "store/results_store.h"
#include "tests/support/pseudo_terminal.h"
#include "tests/support/read_only_file.h"
#include "tests/support/sim_process.h"
#include "tests/support/store_rows.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace rio;
using namespace std::chrono;

namespace {

// Only reached when something is wrong; a healthy run takes well under it.
constexpr int kPatienceMs = 30'000;

const QByteArray kPlan = "[line]\n"
                         "speed=115200\n"
                         "board=01\n"
                         "[communication]\n"
                         "cycles=4\n"
                         "[loopback]\n"
                         "map=1>1,2>2,3>3,4>4,5>5,6>6,7>7,8>8\n"
                         "[analog1]\n"
                         "min=100\n"
                         "max=900\n";

// riosim with --log on a new pseudo-terminal.
struct Simulator : rio::test::SimProcess {
    explicit Simulator(const QStringList& extra = {})
        : SimProcess(QStringLiteral(RIOSIM_PATH), extra) {}
};

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run riopoll(const QStringList& args, const QString& timeZone = QStringLiteral("UTC")) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TZ"), timeZone);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(RIOPOLL_PATH), args);
    Run run;
    if (!process.waitForFinished(kPatienceMs) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QString writePlan(const QTemporaryDir& dir) {
    const QString path = dir.filePath(QStringLiteral("plan.ini"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(kPlan) != kPlan.size())
        return {};
    return path;
}

std::unique_ptr<store::ResultsStore> openWritable(const QString& path) {
    auto opened = store::openStore(store::StoreLocation{path}, store::Access::ReadWrite);
    return opened ? std::move(opened.value()) : nullptr;
}

QStringList rows(const QString& path, const QString& sql) {
    return rio::test::storeRows(path, sql);
}

system_clock::time_point at(const char* utc) {
    const QDateTime time = QDateTime::fromString(QString::fromLatin1(utc), Qt::ISODate);
    return system_clock::time_point(
        milliseconds(QDateTime(time.date(), time.time(), Qt::UTC).toMSecsSinceEpoch()));
}

boardtest::StepResult step(const char* name, boardtest::StepOutcome outcome,
                           const char* message = "") {
    boardtest::StepResult s;
    s.name = QString::fromLatin1(name);
    s.outcome = outcome;
    s.message = QString::fromLatin1(message);
    return s;
}

// Four runs: SN-1 fails, cannot be tested, passes at another station; SN-2
// passes.
bool makeStore(const QString& path) {
    auto results = openWritable(path);
    if (!results)
        return false;
    const auto run = [&](const char* uuid, const char* unit, const char* station, const char* start,
                         std::vector<boardtest::StepResult> steps, const char* message = "",
                         const char* operatorName = "") {
        boardtest::TestRecord r;
        r.uuid = QString::fromLatin1(uuid);
        r.unit = QString::fromLatin1(unit);
        r.station = QString::fromLatin1(station);
        r.operatorName = QString::fromLatin1(operatorName);
        r.address = QStringLiteral("01");
        r.planFile = QStringLiteral("/plans/board.ini");
        r.planSha256 = QStringLiteral("e219b505");
        r.version = QStringLiteral("riopoll 0.2.0");
        r.start = at(start);
        r.end = r.start + 3s;
        r.message = QString::fromLatin1(message);
        r.steps = std::move(steps);
        return results->beginRun(r).ok() && results->completeRun(r).ok();
    };
    const char* const noPort = "could not open the port /dev/ttyUSB0: no such device";
    return run("11111111-1111-4111-8111-111111111111", "SN-1", "bench-1", "2026-03-02T08:00",
               {step("communication", boardtest::StepOutcome::Fail,
                     "8 exchanges, 2 not accepted (at most 0)"),
                step("teardown", boardtest::StepOutcome::Pass)}) &&
           run("22222222-2222-4222-8222-222222222222", "SN-1", "bench-1", "2026-03-02T08:30",
               {step("communication", boardtest::StepOutcome::Error, noPort)}, noPort) &&
           run("33333333-3333-4333-8333-333333333333", "SN-1", "bench-2", "2026-03-02T09:00",
               {step("communication", boardtest::StepOutcome::Pass)}, "", "kim") &&
           run("44444444-4444-4444-8444-444444444444", "SN-2", "bench-2", "2026-03-02T10:00",
               {step("communication", boardtest::StepOutcome::Pass)});
}

} // namespace

class TestPollStore : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
            QSKIP("Qt's SQLite driver is not installed (libqt6sql6-sqlite)");
    }

    // Two runs of one unit: each is in the store with its attempt number,
    // the station's name, its verdict and its steps.
    void runsStored() {
        RIO_SKIP_WITHOUT_PSEUDO_TERMINAL();
        Simulator sim;
        QVERIFY(!sim.path.isEmpty());
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("results.sqlite"));
        QString folder;
        for (int attempt = 1; attempt <= 2; ++attempt) {
            const Run run = riopoll({"--test", writePlan(dir), "--device", sim.path, "--unit",
                                     "SN-5", "--store", "sqlite:" + path, "--station", "bench-9",
                                     "--report", dir.filePath(QStringLiteral("reports"))});
            QCOMPARE(run.exitCode, 0);
            QVERIFY2(!run.out.contains("result not stored"), run.out.constData());
            const qsizetype at = run.out.indexOf("report: ");
            QVERIFY2(at >= 0, run.out.constData());
            folder = QString::fromUtf8(run.out.mid(at + 8)).trimmed();
        }
        // The report names the run as the store does.
        QFile result(QDir(folder).filePath(QStringLiteral("result.json")));
        QVERIFY(result.open(QIODevice::ReadOnly));
        const QJsonObject json = QJsonDocument::fromJson(result.readAll()).object();
        QCOMPARE(QStringList({json[QStringLiteral("uuid")].toString(),
                              QString::number(json[QStringLiteral("attempt")].toInt()),
                              json[QStringLiteral("station")].toString()})
                     .join(QLatin1Char('|')),
                 rows(path, "SELECT uuid, attempt, station FROM runs WHERE attempt = 2").value(0));
        QCOMPARE(
            rows(path, "SELECT unit, attempt, station, host, address, verdict, message,"
                       " substr(version, 1, 8) FROM runs ORDER BY id"),
            QStringList({"SN-5|1|bench-9|" + QSysInfo::machineHostName() + "|01|PASS||riopoll ",
                         "SN-5|2|bench-9|" + QSysInfo::machineHostName() + "|01|PASS||riopoll "}));
        QCOMPARE(
            rows(path, "SELECT s.name, s.outcome FROM steps s JOIN runs r ON r.id = s.run_id"
                       " WHERE r.attempt = 2 ORDER BY s.position"),
            QStringList({"communication|pass", "loopback|pass", "analog|pass", "teardown|pass"}));
        QCOMPARE(rows(path, "SELECT m.name, m.value, m.low, m.high FROM measurements m"
                            " JOIN steps s ON s.id = m.step_id JOIN runs r ON r.id = s.run_id"
                            " WHERE r.attempt = 2 AND s.name = 'analog'"),
                 QStringList({"analog1_median|512|100|900"}));
    }

    // A line's server that is away: the verdict and exit status are the
    // board's, the run waits in this machine's own file, and standard error
    // says so and why.
    void lineServerAway() {
        RIO_SKIP_WITHOUT_PSEUDO_TERMINAL();
        Simulator sim;
        QVERIFY(!sim.path.isEmpty());
        QTemporaryDir dir;
        qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("home")).toUtf8());
        const QString url = "postgresql:///line?host=" + dir.filePath(QStringLiteral("none"));
        const Run run = riopoll(
            {"--test", writePlan(dir), "--device", sim.path, "--unit", "SN-7", "--store", url});
        qunsetenv("XDG_DATA_HOME");
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.startsWith("PASS  unit SN-7"), run.out.constData());
        QVERIFY2(run.err.contains("riopoll: 1 result(s) waiting for the server " + url.toUtf8() +
                                  " (cannot open the store " + url.toUtf8() +
                                  ": connection to server on socket"),
                 run.err.constData());
        QCOMPARE(rows(dir.filePath(QStringLiteral("home/riopanel/results.sqlite")),
                      "SELECT unit, verdict, upload FROM runs"),
                 QStringList({"SN-7|PASS|waiting"}));
    }

    // A store on a file that cannot be written: the test is refused before
    // the port is opened, and nothing reaches the line.
    void readOnlyStoreRefuses() {
        RIO_SKIP_WITHOUT_PSEUDO_TERMINAL();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("results.sqlite"));
        QVERIFY(openWritable(path));
        const test::ReadOnlyFile readOnly(path);
        if (!readOnly.ready)
            QSKIP("the store file cannot be made read-only here (root, and no bind mount)");
        Simulator sim;
        QVERIFY(!sim.path.isEmpty());
        const Run run = riopoll({"--test", writePlan(dir), "--device", sim.path, "--unit", "SN-6",
                                 "--store", "sqlite:" + path});
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.out.startsWith("ERROR  unit SN-6  plan "), run.out.constData());
        QVERIFY2(run.out.contains(
                     "\nresult not stored: cannot open the store sqlite:" + path.toUtf8() + ": "),
                 run.out.constData());
        QVERIFY(sim.logUpToMarker());
        QCOMPARE(sim.log().size(), 1);
        QCOMPARE(rows(path, "SELECT COUNT(*) FROM runs"), QStringList({"0"}));
    }

    // The station restarted during the test and marked the run ABORTED: the
    // board's verdict is still shown, the run is not stored, exit 2.
    void completionRefused() {
        RIO_SKIP_WITHOUT_PSEUDO_TERMINAL();
        // A turnaround so the test lasts long enough to be caught.
        Simulator sim({"--turnaround", "20"});
        QVERIFY(!sim.path.isEmpty());
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("results.sqlite"));
        QProcess poll;
        poll.start(QStringLiteral(RIOPOLL_PATH),
                   {"--test", writePlan(dir), "--device", sim.path, "--unit", "SN-7", "--store",
                    "sqlite:" + path, "--station", "bench-3"});
        QVERIFY(poll.waitForStarted(5000));
        QTRY_COMPARE_WITH_TIMEOUT(rows(path, "SELECT verdict FROM runs"), QStringList({"RUNNING"}),
                                  kPatienceMs);
        auto station = openWritable(path);
        QVERIFY(station);
        QCOMPARE(station->abortRunning(QStringLiteral("bench-3")).value(), 1);
        QVERIFY(poll.waitForFinished(kPatienceMs));
        QCOMPARE(poll.exitCode(), 2);
        const QByteArray out = poll.readAllStandardOutput();
        QVERIFY2(out.startsWith("PASS  unit SN-7"), out.constData());
        const QString uuid = rows(path, "SELECT uuid FROM runs").value(0);
        QVERIFY2(out.endsWith("\nresult not stored: sqlite:" + path.toUtf8() +
                              ": cannot record the run's end: run " + uuid.toUtf8() +
                              " is ABORTED in the store, no longer RUNNING\n"),
                 out.constData());
        QCOMPARE(rows(path, "SELECT COUNT(*) FROM steps"), QStringList({"0"}));
    }

    void queries_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("timeZone");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("history, csv")
            << QStringList{"--history", "SN-1", "--format", "csv"} << "UTC"
            << QByteArray("uuid,unit,attempt,station,operator,address,plan_file,plan_sha256,"
                          "start,end,verdict,message,failing_step,step_message\r\n"
                          "33333333-3333-4333-8333-333333333333,SN-1,3,bench-2,kim,01,"
                          "/plans/board.ini,e219b505,2026-03-02T09:00:00.000Z,"
                          "2026-03-02T09:00:03.000Z,PASS,,,\r\n"
                          "22222222-2222-4222-8222-222222222222,SN-1,2,bench-1,,01,"
                          "/plans/board.ini,e219b505,2026-03-02T08:30:00.000Z,"
                          "2026-03-02T08:30:03.000Z,ERROR,could not open the port /dev/ttyUSB0: "
                          "no such device,communication,could not open the port /dev/ttyUSB0: "
                          "no such device\r\n"
                          "11111111-1111-4111-8111-111111111111,SN-1,1,bench-1,,01,"
                          "/plans/board.ini,e219b505,2026-03-02T08:00:00.000Z,"
                          "2026-03-02T08:00:03.000Z,FAIL,,communication,\"8 exchanges, 2 not "
                          "accepted (at most 0)\"\r\n");
        QTest::newRow("history, jsonl")
            << QStringList{"--history", "SN-2", "--format", "jsonl"} << "UTC"
            << QByteArray("{\"address\":\"01\",\"attempt\":1,\"end\":\"2026-03-02T10:00:03.000Z\","
                          "\"failing_step\":null,\"message\":\"\",\"operator\":null,"
                          "\"plan_file\":\"/plans/board.ini\",\"plan_sha256\":\"e219b505\","
                          "\"start\":\"2026-03-02T10:00:00.000Z\",\"station\":\"bench-2\","
                          "\"step_message\":null,\"unit\":\"SN-2\","
                          "\"uuid\":\"44444444-4444-4444-8444-444444444444\","
                          "\"verdict\":\"PASS\"}\n");
        QTest::newRow("yield of a UTC day, csv")
            << QStringList{"--yield",    "--since",  "2026-03-02", "--until",
                           "2026-03-03", "--format", "csv"}
            << "UTC"
            << QByteArray("since,until,station,units_tested,first_pass,final_pass,"
                          "first_pass_yield_percent,final_yield_percent,runs,pass,fail,error,"
                          "aborted,running\r\n"
                          "2026-03-02T00:00:00.000Z,2026-03-03T00:00:00.000Z,,2,1,2,50.0,100.0,"
                          "4,2,1,1,0,0\r\n");
        // 17:15 in Seoul is 08:15 UTC: SN-1 entered test before it, and only
        // SN-2 is counted.
        QTest::newRow("yield from a local time, jsonl")
            << QStringList{"--yield",  "--since", "2026-03-02T17:15", "--until", "2026-03-03",
                           "--format", "jsonl"}
            << "Asia/Seoul"
            << QByteArray("{\"aborted\":0,\"error\":1,\"fail\":0,\"final_pass\":1,"
                          "\"final_yield_percent\":100,\"first_pass\":1,"
                          "\"first_pass_yield_percent\":100,\"pass\":2,\"running\":0,\"runs\":3,"
                          "\"since\":\"2026-03-02T08:15:00.000Z\",\"station\":null,"
                          "\"units_tested\":1,\"until\":\"2026-03-02T15:00:00.000Z\"}\n");
        QTest::newRow("pareto, csv")
            << QStringList{"--pareto", "--format", "csv"} << "UTC"
            << QByteArray("step,message,count\r\n"
                          "communication,\"8 exchanges, 2 not accepted (at most 0)\",1\r\n");
    }
    void queries() {
        QFETCH(QStringList, args);
        QFETCH(QString, timeZone);
        QFETCH(QByteArray, out);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("results.sqlite"));
        QVERIFY(makeStore(path));
        const Run run = riopoll(args + QStringList{"--store", "sqlite:" + path}, timeZone);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, out);
    }

    void queryWithoutStore() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("none.sqlite"));
        const Run run = riopoll({"--history", "SN-1", "--store", "sqlite:" + path});
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(run.out, QByteArray());
        QCOMPARE(run.err, "riopoll: cannot open the store sqlite:" + path.toUtf8() +
                              ": there is no store in this file\n");
        QVERIFY(!QFile::exists(path));
    }
};

QTEST_GUILESS_MAIN(TestPollStore)
#include "test_poll_store.moc"
