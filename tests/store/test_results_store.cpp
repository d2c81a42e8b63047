// The results store on SQLite files of the test's own: attempt numbers, the
// start-up's ABORTED marking, a run completed in one transaction, yield and
// Pareto on runs written by hand, and the schema's migrations. What the store
// wrote is read back through a connection of the test's own, in SQL, never
// through the store's queries; expected values are worked out by hand.
#include "store/results_store.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>

using namespace rio;
using namespace std::chrono;
using boardtest::Measurement;
using boardtest::StepOutcome;
using boardtest::StepResult;
using boardtest::TestRecord;
using store::Access;
using store::ResultsStore;

namespace {

// "2026-03-02T08:10" as UTC.
system_clock::time_point at(const char* text) {
    const QDateTime time = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
    return system_clock::time_point(
        milliseconds(QDateTime(time.date(), time.time(), Qt::UTC).toMSecsSinceEpoch()));
}

std::unique_ptr<ResultsStore> openWritable(const QString& path) {
    auto opened =
        store::openStore(store::StoreLocation{path}, Access::ReadWrite);
    if (!opened) {
        qWarning("%s", qPrintable(opened.error()));
        return nullptr;
    }
    return std::move(opened.value());
}

// A connection of the test's own, and each row of a query as "a|b|c", NULL
// written as "null".
class Reader {
public:
    explicit Reader(const QString& path) : m_name(QStringLiteral("reader.%1").arg(++s_count)) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.open();
    }
    ~Reader() {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    QStringList rows(const QString& sql) const {
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        if (!query.exec(sql))
            return {QStringLiteral("error: ") + query.lastError().text()};
        QStringList rows;
        while (query.next()) {
            QStringList cells;
            for (int i = 0; i < query.record().count(); ++i)
                cells << (query.isNull(i) ? QStringLiteral("null") : query.value(i).toString());
            rows << cells.join(QLatin1Char('|'));
        }
        return rows;
    }
    bool exec(const QString& sql) const {
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        return query.exec(sql);
    }

private:
    static inline int s_count = 0;
    QString m_name;
};

StepResult step(const char* name, StepOutcome outcome, const char* message = "") {
    StepResult s;
    s.name = QString::fromLatin1(name);
    s.outcome = outcome;
    s.message = QString::fromLatin1(message);
    return s;
}

TestRecord record(const char* unit, const char* station, const char* start) {
    TestRecord r;
    r.unit = QString::fromLatin1(unit);
    r.station = QString::fromLatin1(station);
    r.address = QStringLiteral("01");
    r.host = QStringLiteral("bench-7");
    r.planFile = QStringLiteral("/plans/board.ini");
    r.planSha256 = QStringLiteral("e219b505");
    r.version = QStringLiteral("riopoll 0.2.0");
    r.start = at(start);
    r.end = r.start + seconds(3);
    return r;
}

// A run as the yield sees it: its verdict from its steps, or from the
// message for an ERROR.
TestRecord judged(const char* unit, const char* station, const char* start, const char* verdict,
                  const char* failingStep = "", const char* message = "") {
    TestRecord r = record(unit, station, start);
    const QString v = QString::fromLatin1(verdict);
    if (v == QStringLiteral("PASS"))
        r.steps = {step("communication", StepOutcome::Pass)};
    else if (v == QStringLiteral("FAIL"))
        r.steps = {step("communication", StepOutcome::Pass),
                   step(failingStep, StepOutcome::Fail, message)};
    else
        r.steps = {step(failingStep, StepOutcome::Error, message)};
    return r;
}

const char* const kLoopback3 = "output 3 alone: input 3 off (expected on)";
const char* const kAnalog1 = "analog1 median 9999 of 4 readings outside 100..900";

} // namespace

class TestResultsStore : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
            QSKIP("Qt's SQLite driver is not installed (libqt6sql6-sqlite)");
    }

    // Every earlier run of the unit counts, whatever its verdict and
    // station, also when another connection wrote it; a run without a unit
    // is attempt 1.
    void attemptNumbers() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("results.sqlite"));
        auto first = openWritable(path);
        auto second = openWritable(path);
        QVERIFY(first && second);
        const struct {
            ResultsStore* store;
            TestRecord run;
            int attempt;
        } runs[] = {
            {first.get(), judged("SN-1", "A", "2026-03-02T08:00", "FAIL", "loopback", kLoopback3),
             1},
            {second.get(), judged("SN-1", "B", "2026-03-02T08:05", "ERROR", "communication", "x"),
             2},
            {first.get(), judged("SN-2", "A", "2026-03-02T08:06", "PASS"), 1},
            {second.get(), judged("", "A", "2026-03-02T08:07", "PASS"), 1},
            {first.get(), judged("SN-1", "A", "2026-03-02T08:09", "PASS"), 3},
            {second.get(), judged("", "B", "2026-03-02T08:10", "PASS"), 1},
        };
        for (auto run : runs) {
            QVERIFY(run.store->beginRun(run.run).ok());
            QCOMPARE(run.run.attempt, run.attempt);
            QVERIFY(run.store->completeRun(run.run).ok());
        }
        QCOMPARE(Reader(path).rows("SELECT unit, attempt FROM runs ORDER BY id"),
                 QStringList({"SN-1|1", "SN-1|2", "SN-2|1", "null|1", "SN-1|3", "null|1"}));
    }

    // A station that died leaves its run RUNNING; its next start marks that
    // one ABORTED, and another station's run that is still going is left as
    // it is. The station's latest runs then list it.
    void runningMarkedAbortedAtNextOpen() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("results.sqlite"));
        {
            auto before = openWritable(path);
            QVERIFY(before);
            TestRecord done = judged("SN-1", "line-a", "2026-03-02T08:00", "PASS");
            TestRecord cut = record("SN-2", "line-a", "2026-03-02T08:01");
            TestRecord other = record("SN-3", "line-b", "2026-03-02T08:02");
            for (TestRecord* r : {&done, &cut, &other})
                QVERIFY(before->beginRun(*r).ok());
            QVERIFY(before->completeRun(done).ok());
        }
        auto after = openWritable(path);
        QVERIFY(after);
        const auto aborted = after->abortRunning(QStringLiteral("line-a"));
        QVERIFY2(aborted.ok(), qPrintable(aborted.error()));
        QCOMPARE(aborted.value(), 1);
        const Reader reader(path);
        QCOMPARE(reader.rows("SELECT unit, station, verdict, \"end\" FROM runs ORDER BY id"),
                 QStringList({"SN-1|line-a|PASS|2026-03-02T08:00:03.000Z",
                              "SN-2|line-a|ABORTED|null", "SN-3|line-b|RUNNING|null"}));
        QVERIFY(reader.rows("SELECT message FROM runs WHERE unit = 'SN-2'")
                    .value(0)
                    .startsWith("cut short: still RUNNING when the station started again at "));
        QCOMPARE(after->abortRunning(QStringLiteral("line-a")).value(), 0);

        // What the station shows after its start-up, newest first.
        const auto latest = after->latestRuns(QStringLiteral("line-a"), 5);
        QVERIFY2(latest.ok(), qPrintable(latest.error()));
        QStringList shown;
        for (const store::RunSummary& run : latest.value())
            shown << run.unit + QLatin1Char(' ') + run.verdict;
        QCOMPARE(shown, QStringList({"SN-2 ABORTED", "SN-1 PASS"}));
    }

    // The run, its steps and their measurements, as the record holds them;
    // a completion that fails half-way leaves the run RUNNING with nothing
    // of it written, and a run is completed once only.
    void completedInOneTransaction() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("results.sqlite"));
        auto results = openWritable(path);
        QVERIFY(results);

        TestRecord r = record("SN 7/B", "line-a", "2026-03-02T08:00:01.250");
        r.operatorName = QStringLiteral("kim");
        r.end = at("2026-03-02T08:00:04.5");
        StepResult communication = step("communication", StepOutcome::Pass);
        communication.duration = milliseconds(1200);
        communication.measurements = {
            {QStringLiteral("exchanges"), 8, QJsonValue(), QJsonValue(), StepOutcome::Pass},
            {QStringLiteral("failures"), 0, QJsonValue(), 0, StepOutcome::Pass},
            {QStringLiteral("response_p95_ms"), 27.4, QJsonValue(), 60, StepOutcome::Pass}};
        StepResult loopback = step("loopback", StepOutcome::Fail, kLoopback3);
        loopback.duration = milliseconds(800);
        loopback.measurements = {{QStringLiteral("output_3_alone"), QStringLiteral("00000000"),
                                  QStringLiteral("00000100"), QStringLiteral("00000100"),
                                  StepOutcome::Fail}};
        StepResult analog = step("analog", StepOutcome::Skipped, "not in the plan");
        StepResult teardown = step("teardown", StepOutcome::Pass);
        teardown.duration = milliseconds(40);
        r.steps = {communication, loopback, analog, teardown};
        QVERIFY(results->beginRun(r).ok());
        QCOMPARE(Reader(path).rows("SELECT verdict, \"end\" FROM runs"),
                 QStringList({"RUNNING|null"}));
        const auto completed = results->completeRun(r);
        QVERIFY2(completed.ok(), qPrintable(completed.error()));

        const Reader reader(path);
        QCOMPARE(reader.rows("SELECT uuid FROM runs"), QStringList({r.uuid}));
        QCOMPARE(reader.rows("SELECT unit, attempt, station, operator, address, plan_file,"
                             " plan_sha256, start, \"end\", verdict, message, version FROM runs"),
                 QStringList({"SN 7/B|1|line-a|kim|01|/plans/board.ini|e219b505|"
                              "2026-03-02T08:00:01.250Z|2026-03-02T08:00:04.500Z|FAIL||riopoll "
                              "0.2.0"}));
        QCOMPARE(reader.rows("SELECT position, name, outcome, message, duration_ms FROM steps"
                             " ORDER BY position"),
                 QStringList({"1|communication|pass||1200",
                              "2|loopback|fail|output 3 alone: input 3 off (expected on)|800",
                              "3|analog|skipped|not in the plan|0", "4|teardown|pass||40"}));
        QCOMPARE(reader.rows("SELECT s.name, m.position, m.name, typeof(m.value), m.value,"
                             " m.low, typeof(m.high), m.high, m.outcome"
                             " FROM measurements m JOIN steps s ON s.id = m.step_id"
                             " ORDER BY s.position, m.position"),
                 QStringList({"communication|1|exchanges|real|8|null|null|null|pass",
                              "communication|2|failures|real|0|null|real|0|pass",
                              "communication|3|response_p95_ms|real|27.4|null|real|60|pass",
                              "loopback|1|output_3_alone|text|00000000|00000100|text|00000100|"
                              "fail"}));
        const auto again = results->completeRun(r);
        QVERIFY(!again.ok());
        QVERIFY2(again.error().contains("is FAIL in the store, no longer RUNNING"),
                 qPrintable(again.error()));

        // The second run's last measurement cannot be written.
        QVERIFY(reader.exec("CREATE TRIGGER refuse BEFORE INSERT ON measurements"
                            " WHEN NEW.name = 'analog2_median'"
                            " BEGIN SELECT RAISE(ABORT, 'injected failure'); END"));
        TestRecord cut = record("SN-8", "line-a", "2026-03-02T08:01");
        StepResult analog2 = step("analog", StepOutcome::Pass);
        analog2.measurements = {
            {QStringLiteral("analog1_median"), 512, 100, 900, StepOutcome::Pass},
            {QStringLiteral("analog2_median"), 1023, 0, 1023, StepOutcome::Pass}};
        cut.steps = {communication, analog2, teardown};
        QVERIFY(results->beginRun(cut).ok());
        const auto failed = results->completeRun(cut);
        QVERIFY(!failed.ok());
        QVERIFY2(failed.error().contains("injected failure"), qPrintable(failed.error()));
        QCOMPARE(reader.rows("SELECT verdict, \"end\" FROM runs WHERE unit = 'SN-8'"),
                 QStringList({"RUNNING|null"}));
        QCOMPARE(reader.rows("SELECT COUNT(*) FROM steps"), QStringList({"4"}));
        QCOMPARE(reader.rows("SELECT COUNT(*) FROM measurements"), QStringList({"4"}));
    }

    // Yield and the failures' Pareto for periods and stations, over one
    // set of runs written by hand. Units U0..U7:
    //   U0  FAIL A 03-01 10:00 (loopback, output 1) . PASS A 03-02 09:00
    //   U1  PASS A 03-02 08:00
    //   U2  FAIL A 03-02 08:10 (loopback 3) ......... PASS B 03-02 08:30
    //   U3  ERROR A 03-02 08:20 ..................... PASS A 03-02 08:25
    //   U4  FAIL B 03-02 10:00 (analog) ............. FAIL B 03-02 10:05 (analog)
    //   U5  ABORTED A 03-02 11:00
    //   U6  FAIL A 03-02 12:00 (loopback 3) ......... PASS A 03-03 01:00
    //   --  PASS A 03-02 13:00 (no unit)
    //   U7  RUNNING B 03-02 14:00
    void yieldAndPareto_data() {
        QTest::addColumn<QString>("since");
        QTest::addColumn<QString>("until");
        QTest::addColumn<QString>("station");
        QTest::addColumn<QString>("units");    // tested, first pass, final pass
        QTest::addColumn<QString>("verdicts"); // runs, PASS, FAIL, ERROR, ABORTED, RUNNING
        QTest::addColumn<QStringList>("pareto");
        const QString analog = QStringLiteral("analog|") + kAnalog1;
        const QString loop3 = QStringLiteral("loopback|") + kLoopback3;
        const QString loop1 =
            QStringLiteral("loopback|output 1 alone: input 1 off (expected on)|1");
        QTest::newRow("03-02, every station: U0 entered the day before, U5 judged nothing")
            << "2026-03-02T00:00"
            << "2026-03-03T00:00"
            << ""
            << "5 2 3"
            << "12 5 4 1 1 1" << QStringList{analog + "|2", loop3 + "|2"};
        QTest::newRow("03-02, station A: U2's pass at B does not count")
            << "2026-03-02T00:00"
            << "2026-03-03T00:00"
            << "A"
            << "4 2 2"
            << "8 4 2 1 1 0" << QStringList{loop3 + "|2"};
        QTest::newRow("03-02, station B: U2's first run at B passed")
            << "2026-03-02T00:00"
            << "2026-03-03T00:00"
            << "B"
            << "2 1 1"
            << "4 1 2 0 0 1" << QStringList{analog + "|2"};
        QTest::newRow("from 03-02 on: U6's pass the next day is final")
            << "2026-03-02T00:00"
            << ""
            << ""
            << "5 2 4"
            << "13 6 4 1 1 1" << QStringList{analog + "|2", loop3 + "|2"};
        QTest::newRow("03-03: a retest alone brings in no unit") << "2026-03-03T00:00"
                                                                 << "2026-03-04T00:00"
                                                                 << ""
                                                                 << "0 0 0"
                                                                 << "1 1 0 0 0 0" << QStringList{};
        QTest::newRow("all time, every station")
            << ""
            << ""
            << ""
            << "6 2 5"
            << "14 6 5 1 1 1" << QStringList{analog + "|2", loop3 + "|2", loop1};
    }
    void yieldAndPareto() {
        QFETCH(QString, since);
        QFETCH(QString, until);
        QFETCH(QString, station);
        QFETCH(QString, units);
        QFETCH(QString, verdicts);
        QFETCH(QStringList, pareto);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("results.sqlite"));
        auto results = openWritable(path);
        QVERIFY(results);
        const TestRecord runs[] = {
            judged("U0", "A", "2026-03-01T10:00", "FAIL", "loopback",
                   "output 1 alone: input 1 off (expected on)"),
            judged("U0", "A", "2026-03-02T09:00", "PASS"),
            judged("U1", "A", "2026-03-02T08:00", "PASS"),
            judged("U2", "A", "2026-03-02T08:10", "FAIL", "loopback", kLoopback3),
            judged("U2", "B", "2026-03-02T08:30", "PASS"),
            judged("U3", "A", "2026-03-02T08:20", "ERROR", "communication",
                   "could not open the port /dev/ttyUSB0: no such device"),
            judged("U3", "A", "2026-03-02T08:25", "PASS"),
            judged("U4", "B", "2026-03-02T10:00", "FAIL", "analog", kAnalog1),
            judged("U4", "B", "2026-03-02T10:05", "FAIL", "analog", kAnalog1),
            judged("U6", "A", "2026-03-02T12:00", "FAIL", "loopback", kLoopback3),
            judged("U6", "A", "2026-03-03T01:00", "PASS"),
            judged("", "A", "2026-03-02T13:00", "PASS"),
        };
        for (TestRecord run : runs) {
            QVERIFY(results->beginRun(run).ok());
            QVERIFY(results->completeRun(run).ok());
        }
        TestRecord cut = record("U5", "A", "2026-03-02T11:00");
        TestRecord going = record("U7", "B", "2026-03-02T14:00");
        QVERIFY(results->beginRun(cut).ok());
        QCOMPARE(results->abortRunning(QStringLiteral("A")).value(), 1);
        QVERIFY(results->beginRun(going).ok());

        store::Period period;
        if (!since.isEmpty())
            period.since = at(qPrintable(since));
        if (!until.isEmpty())
            period.until = at(qPrintable(until));
        period.station = station;
        const auto figures = results->yieldFigures(period);
        QVERIFY2(figures.ok(), qPrintable(figures.error()));
        const store::YieldFigures& f = figures.value();
        QCOMPARE(QStringLiteral("%1 %2 %3").arg(f.unitsTested).arg(f.firstPass).arg(f.finalPass),
                 units);
        QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5 %6")
                     .arg(f.runs)
                     .arg(f.pass)
                     .arg(f.fail)
                     .arg(f.error)
                     .arg(f.aborted)
                     .arg(f.running),
                 verdicts);
        const auto entries = results->pareto(period);
        QVERIFY2(entries.ok(), qPrintable(entries.error()));
        QStringList seen;
        for (const store::ParetoEntry& e : entries.value())
            seen << QStringLiteral("%1|%2|%3").arg(e.step, e.message).arg(e.count);
        QCOMPARE(seen, pareto);
    }

    // A new file is made a store of the current schema in WAL mode; a file
    // of a newer schema is refused and left as it was.
    void migrations() {
        QTemporaryDir dir;
        const QString empty = dir.filePath(QStringLiteral("empty.sqlite"));
        QFile file(empty);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(openWritable(empty));
        {
            const Reader reader(empty);
            QCOMPARE(reader.rows("PRAGMA user_version"), QStringList({"2"}));
            QCOMPARE(reader.rows("PRAGMA journal_mode"), QStringList({"wal"}));
            QCOMPARE(reader.rows("SELECT name FROM sqlite_schema WHERE type = 'table'"
                                 " ORDER BY name"),
                     QStringList({"measurements", "runs", "steps"}));
        }

        const QString newer = dir.filePath(QStringLiteral("newer.sqlite"));
        {
            const Reader maker(newer);
            QVERIFY(maker.exec("CREATE TABLE runs (id INTEGER PRIMARY KEY, later TEXT)"));
            QVERIFY(maker.exec("PRAGMA user_version = 7"));
        }
        const auto refused = store::openStore(store::StoreLocation{newer},
                                              Access::ReadWrite);
        QVERIFY(!refused.ok());
        QCOMPARE(refused.error(), "cannot open the store sqlite:" + newer +
                                      ": its schema version 7 is newer than this program's (2)");
        const Reader reader(newer);
        QCOMPARE(reader.rows("PRAGMA user_version"), QStringList({"7"}));
        QCOMPARE(reader.rows("PRAGMA journal_mode"), QStringList({"delete"}));
        QCOMPARE(reader.rows("SELECT name FROM sqlite_schema"), QStringList({"runs"}));
    }
};

QTEST_GUILESS_MAIN(TestResultsStore)
#include "test_results_store.moc"
