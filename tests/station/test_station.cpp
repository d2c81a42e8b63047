// The station as an operator uses it, on riosim's boards over a real
// pseudo-terminal: a scanned serial and Return run the plan and the store
// keeps the run with its steps; a scan during a test is dropped; Stop ends
// the test with the outputs off and records ERROR; attempts count; a run
// left RUNNING is shown ABORTED at the next start; a serial the plan's
// pattern refuses sends nothing; a store that cannot be written refuses
// every test; with a line's server away the station tests and says what
// waits, and sends it when the server is there.
#include "sim/simulator.h"
#include "station/station_window.h"
#include "store/results_store.h"
#include "tests/support/pseudo_terminal.h"
#include "tests/support/read_only_file.h"
#include "tests/support/store_rows.h"
#include "tests/support/test_server.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

Q_DECLARE_METATYPE(rio::sim::BoardConfig)

using namespace rio;
using station::StationWindow;

namespace {

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

QStringList rows(const QString& path, const QString& sql) {
    return rio::test::storeRows(path, sql);
}

// The simulator's board 01 on a new pseudo-terminal, a plan and a store in a
// folder of the test's own, and the station's window on them.
struct Bench {
    explicit Bench(sim::SimConfig config = {}, const QByteArray& plan = kPlan)
        : sim(std::move(config)), path(sim.start()) {
        QFile file(dir.filePath(QStringLiteral("plan.ini")));
        planWritten = file.open(QIODevice::WriteOnly) && file.write(plan) == plan.size();
        settings.planPath = file.fileName();
        settings.port.device = QString::fromStdString(path);
        settings.station = QStringLiteral("bench-T");
        settings.store = QStringLiteral("sqlite:") + storePath();
    }

    [[nodiscard]] QString storePath() const {
        return dir.filePath(QStringLiteral("results.sqlite"));
    }

    // Opens the window, shows it, and enters the operator as a person would.
    bool open() {
        window = std::make_unique<StationWindow>(settings);
        window->show();
        QApplication::setActiveWindow(window.get());
        if (!QTest::qWaitForWindowActive(window.get()))
            return false;
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("op-7"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        return QApplication::focusWidget() == unitField();
    }

    // Types a serial into the focused widget and presses Return, as a
    // scanner does; the test runs before this returns.
    void scan(const QString& serial) {
        QTest::keyClicks(QApplication::focusWidget(), serial);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    }

    // Whenever `when` holds during the next test, `act` runs once: the test
    // runs inside the scan's key press, on the event loop its waits pump.
    void during(std::function<bool()> when, std::function<void()> act) {
        auto* timer = new QTimer(window.get());
        timer->setInterval(1);
        QObject::connect(timer, &QTimer::timeout, timer, [timer, when, act] {
            if (when()) {
                timer->stop();
                act();
            }
        });
        timer->start();
    }

    [[nodiscard]] QLineEdit* unitField() const {
        return window->findChild<QLineEdit*>(QStringLiteral("unitField"));
    }
    [[nodiscard]] QString text(const char* label) const {
        return window->findChild<QLabel*>(QString::fromLatin1(label))->text();
    }
    [[nodiscard]] QString stepState(int row) const {
        const auto* item =
            window->findChild<QTableWidget*>(QStringLiteral("stepTable"))->item(row, 1);
        return item ? item->text() : QString();
    }
    // The write requests board 01 received, as their eight output states.
    [[nodiscard]] QStringList writes() const {
        QStringList seen;
        for (const sim::Frame& frame : sim.frames())
            if (frame.direction == sim::Direction::Received && frame.bytes.size() > 12 &&
                frame.bytes[3] == 'W')
                seen << QString::fromStdString(frame.bytes.substr(4, 8));
        return seen;
    }

    QTemporaryDir dir;
    sim::Simulator sim;
    std::string path;
    bool planWritten = false;
    station::StationSettings settings;
    std::unique_ptr<StationWindow> window;
};

} // namespace

class TestStation : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
            QSKIP("Qt's SQLite driver is not installed (libqt6sql6-sqlite)");
        RIO_SKIP_WITHOUT_PSEUDO_TERMINAL();
    }

    void verdicts_data() {
        QTest::addColumn<sim::BoardConfig>("board");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<QStringList>("steps");
        const QStringList passing = {"communication|pass", "loopback|pass", "analog|pass",
                                     "teardown|pass"};
        const QStringList loopFails = {"communication|pass", "loopback|fail", "analog|pass",
                                       "teardown|pass"};
        sim::BoardConfig healthy;
        QTest::newRow("healthy board passes") << healthy << "PASS" << passing;
        sim::BoardConfig stuck;
        stuck.stuckInputs = {{3, '0'}};
        QTest::newRow("input 3 stuck off fails loopback") << stuck << "FAIL" << loopFails;
        sim::BoardConfig crossed;
        crossed.crossedInputs = {{1, 2}, {2, 1}};
        QTest::newRow("crossed wires fail loopback") << crossed << "FAIL" << loopFails;
        sim::BoardConfig high;
        high.analogA = 9999;
        QTest::newRow("analog 1 above its limit fails analog")
            << high << "FAIL"
            << QStringList{"communication|pass", "loopback|pass", "analog|fail", "teardown|pass"};
    }
    void verdicts() {
        QFETCH(sim::BoardConfig, board);
        QFETCH(QString, verdict);
        QFETCH(QStringList, steps);
        sim::SimConfig config;
        config.boards = {board};
        Bench bench(config);
        QVERIFY(bench.planWritten);
        QVERIFY(bench.open());
        bench.scan(QStringLiteral("SN-100"));
        QCOMPARE(bench.window->page(), StationWindow::Page::Verdict);
        QCOMPARE(bench.text("verdictLabel"), verdict);
        QCOMPARE(bench.text("verdictUnitLabel"), QStringLiteral("Unit SN-100, attempt 1"));
        QCOMPARE(rows(bench.storePath(), "SELECT unit, attempt, station, operator, verdict"
                                         " FROM runs"),
                 QStringList{"SN-100|1|bench-T|op-7|" + verdict});
        QCOMPARE(rows(bench.storePath(), "SELECT name, outcome FROM steps ORDER BY position"),
                 steps);
        // FAIL names the failing step on the screen.
        for (const QString& step : steps)
            if (step.endsWith(QStringLiteral("|fail")))
                QVERIFY2(bench.text("verdictDetailLabel").contains(step.section('|', 0, 0) + ": "),
                         qPrintable(bench.text("verdictDetailLabel")));
        QCOMPARE(QApplication::focusWidget(), bench.unitField());
    }

    // A second unit scanned while the first is tested starts nothing and is
    // not kept for later.
    void scanDuringTestIgnored() {
        Bench bench;
        QVERIFY(bench.open());
        bool scanned = false;
        bench.during([&] { return bench.window->testing(); },
                     [&] {
                         bench.scan(QStringLiteral("SN-202"));
                         scanned = true;
                     });
        bench.scan(QStringLiteral("SN-201"));
        QVERIFY(scanned);
        QCOMPARE(bench.text("verdictLabel"), QStringLiteral("PASS"));
        QCOMPARE(bench.text("verdictUnitLabel"), QStringLiteral("Unit SN-201, attempt 1"));
        QCOMPARE(bench.unitField()->text(), QString());
        QCOMPARE(rows(bench.storePath(), "SELECT unit FROM runs"), QStringList{"SN-201"});
    }

    // Esc while the loop-back step has outputs on: the step ends after the
    // exchange in flight, teardown puts every output off, the run is ERROR.
    void stopRecordsError() {
        // Each answer 30 ms late, so that the outputs stay on for a while
        // however busy the machine: the Esc lands in the loop-back step.
        sim::SimConfig slow;
        slow.boards[0].behaviour = *sim::parseBehaviour("delay:30");
        Bench bench(slow);
        QVERIFY(bench.open());
        bench.during(
            [&] {
                return bench.stepState(1) == QStringLiteral("running") &&
                       bench.sim.outputs("01") != "00000000";
            },
            [&] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); });
        bench.scan(QStringLiteral("SN-300"));
        QCOMPARE(bench.text("verdictLabel"), QStringLiteral("ERROR"));
        QVERIFY2(bench.text("verdictDetailLabel").contains("interrupted by the operator"),
                 qPrintable(bench.text("verdictDetailLabel")));
        QCOMPARE(rows(bench.storePath(), "SELECT verdict, message FROM runs"),
                 QStringList{"ERROR|interrupted by the operator"});
        QCOMPARE(rows(bench.storePath(), "SELECT outcome FROM steps WHERE name = 'teardown'"),
                 QStringList{"pass"});
        QVERIFY(bench.writes().size() >= 2);
        QVERIFY(bench.writes().contains(QStringLiteral("00000001")));
        QCOMPARE(bench.writes().constLast(), QStringLiteral("00000000"));
        QCOMPARE(bench.sim.outputs("01"), std::string("00000000"));
    }

    // A line's server that is away: the test runs and is kept in the
    // station's own file, and the header says that it waits and why. With
    // the server there, the run goes up and nothing is said.
    void lineServerAwayThenThere() {
        Bench bench;
        const QString home = bench.dir.filePath(QStringLiteral("home"));
        qputenv("XDG_DATA_HOME", home.toUtf8());
        const QString own = home + QStringLiteral("/riopanel/results.sqlite");
        const QString away = QStringLiteral("postgresql:///line?host=") +
                             bench.dir.filePath(QStringLiteral("no-server"));
        bench.settings.store = away;
        QVERIFY(bench.open());
        bench.scan(QStringLiteral("SN-500"));
        QCOMPARE(bench.text("verdictLabel"), QStringLiteral("PASS"));
        QCOMPARE(rows(own, "SELECT unit, verdict, upload FROM runs"),
                 QStringList{"SN-500|PASS|waiting"});
        const QLabel* upload = bench.window->findChild<QLabel*>(QStringLiteral("uploadLabel"));
        QTRY_VERIFY_WITH_TIMEOUT(upload->isVisible(), kPatienceMs);
        QVERIFY2(upload->text().startsWith("1 result waiting for the server: cannot open the "
                                           "store " +
                                           away + ": connection to server on socket"),
                 qPrintable(upload->text()));

        const std::optional<test::TestServer> server = test::TestServer::fromEnvironment();
        if (!server) {
            qunsetenv("XDG_DATA_HOME");
            QSKIP(qPrintable(test::TestServer::skipReason()));
        }
        const QString db = server->newDatabase(QStringLiteral("station"));
        bench.window.reset();
        bench.settings.store = server->url(db);
        QVERIFY(bench.open());
        bench.scan(QStringLiteral("SN-501"));
        QCOMPARE(bench.text("verdictLabel"), QStringLiteral("PASS"));
        // The run queued while the server was away goes up with the new one.
        QTRY_COMPARE_WITH_TIMEOUT(server->count(db, "SELECT COUNT(*) FROM runs"), 2, kPatienceMs);
        upload = bench.window->findChild<QLabel*>(QStringLiteral("uploadLabel"));
        QTRY_VERIFY_WITH_TIMEOUT(!upload->isVisible(), kPatienceMs);
        qunsetenv("XDG_DATA_HOME");
        QCOMPARE(server->count(db, "SELECT COUNT(*) FROM runs WHERE unit IN ('SN-500', 'SN-501')"
                                   " AND station = 'bench-T'"),
                 2);
    }

    void attemptsCount() {
        Bench bench;
        QVERIFY(bench.open());
        bench.scan(QStringLiteral("SN-400"));
        bench.scan(QStringLiteral("SN-401"));
        bench.scan(QStringLiteral("SN-400"));
        QCOMPARE(bench.text("verdictUnitLabel"), QStringLiteral("Unit SN-400, attempt 2"));
        QCOMPARE(rows(bench.storePath(), "SELECT unit, attempt FROM runs ORDER BY id"),
                 QStringList({"SN-400|1", "SN-401|1", "SN-400|2"}));
    }

    // A run the station left RUNNING (it died mid-test) is marked ABORTED
    // when it starts again, and the operator is told once.
    void leftRunningShownAborted() {
        Bench bench;
        {
            auto opened =
                store::openStore(store::StoreLocation{bench.storePath()}, store::Access::ReadWrite);
            QVERIFY(opened);
            boardtest::TestRecord left;
            left.unit = QStringLiteral("SN-500");
            left.station = QStringLiteral("bench-T");
            left.start = boardtest::WallClock::now();
            QVERIFY(opened.value()->beginRun(left).ok());
        }
        QVERIFY(bench.open());
        QVERIFY2(bench.text("noticeLabel").startsWith("1 run of this station was still RUNNING"),
                 qPrintable(bench.text("noticeLabel")));
        QCOMPARE(rows(bench.storePath(), "SELECT unit, verdict FROM runs"),
                 QStringList{"SN-500|ABORTED"});
        bench.scan(QStringLiteral("SN-501"));
        QVERIFY(bench.window->findChild<QLabel*>(QStringLiteral("noticeLabel"))->isHidden());
    }

    // A serial the plan's pattern does not take is refused on the screen;
    // nothing reaches the line and nothing is stored.
    void patternRefusalSendsNothing() {
        Bench bench({}, kPlan + "[unit]\npattern=SN-[0-9]{5}\n");
        QVERIFY(bench.planWritten);
        QVERIFY(bench.open());
        bench.scan(QStringLiteral("SN-1234"));
        QCOMPARE(bench.window->page(), StationWindow::Page::Waiting);
        QVERIFY2(bench.text("messageLabel").startsWith("'SN-1234' is not a serial number"),
                 qPrintable(bench.text("messageLabel")));
        QVERIFY(bench.sim.frames().empty());
        QCOMPARE(rows(bench.storePath(), "SELECT COUNT(*) FROM runs"), QStringList{"0"});
        QCOMPARE(QApplication::focusWidget(), bench.unitField());
        bench.scan(QStringLiteral("SN-12345"));
        QCOMPARE(bench.text("verdictLabel"), QStringLiteral("PASS"));
    }

    // A unit that fails, is repaired and passes, and one that passes: the
    // history lists the station's runs and a chosen unit's attempts, the
    // shift counts two units, one passed first time, both in the end. All
    // with the focus left in the unit field.
    void historyAndShift() {
        Bench bench;
        QVERIFY(bench.open());
        bench.sim.setStuckInputs("01", {{5, '1'}});
        bench.scan(QStringLiteral("SN-700"));
        QCOMPARE(bench.text("verdictLabel"), QStringLiteral("FAIL"));
        bench.sim.setStuckInputs("01", {});
        bench.scan(QStringLiteral("SN-701"));
        bench.scan(QStringLiteral("SN-700"));
        QCOMPARE(bench.text("verdictLabel"), QStringLiteral("PASS"));

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5);
        QCOMPARE(QApplication::focusWidget(), bench.unitField());
        const auto* latest = bench.window->findChild<QTableView*>("latestRunsView");
        const auto cell = [](const QTableView* view, int row, int column) {
            return view->model()->index(row, column).data().toString();
        };
        QCOMPARE(latest->model()->rowCount(), 3);
        QCOMPARE(cell(latest, 0, 1) + " " + cell(latest, 0, 2) + " " + cell(latest, 0, 4),
                 QStringLiteral("SN-700 2 PASS"));
        QCOMPARE(cell(latest, 2, 4) + " " + cell(latest, 2, 5).section(':', 0, 0),
                 QStringLiteral("FAIL loopback"));
        // Return with the field empty lists the chosen unit's attempts: the
        // newest run's first, then SN-701's (down to the oldest and one up).
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        const auto* unitRuns = bench.window->findChild<QTableView*>("unitRunsView");
        QCOMPARE(unitRuns->model()->rowCount(), 2);
        QCOMPARE(cell(unitRuns, 0, 1) + " " + cell(unitRuns, 0, 4) + ", " + cell(unitRuns, 1, 1) +
                     " " + cell(unitRuns, 1, 4),
                 QStringLiteral("SN-700 PASS, SN-700 FAIL"));
        for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Up})
            QTest::keyClick(QApplication::focusWidget(), key);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(unitRuns->model()->rowCount(), 1);
        QCOMPARE(cell(unitRuns, 0, 1) + " " + cell(unitRuns, 0, 4), QStringLiteral("SN-701 PASS"));
        QCOMPARE(bench.window->page(), StationWindow::Page::Verdict);

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
        QCOMPARE(QApplication::focusWidget(), bench.unitField());
        QCOMPARE(bench.text("unitsTestedLabel"), QStringLiteral("2"));
        QCOMPARE(bench.text("firstPassYieldLabel"), QStringLiteral("50.0 %"));
        QCOMPARE(bench.text("finalYieldLabel"), QStringLiteral("100.0 %"));
        // The day before holds nothing.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QCOMPARE(bench.text("unitsTestedLabel"), QStringLiteral("0"));
    }

    // A store on a file that cannot be written: ERROR on the screen for
    // every scan, and nothing is sent.
    void readOnlyStoreRefuses() {
        Bench bench;
        {
            auto opened =
                store::openStore(store::StoreLocation{bench.storePath()}, store::Access::ReadWrite);
            QVERIFY(opened);
        }
        const test::ReadOnlyFile readOnly(bench.storePath());
        if (!readOnly.ready)
            QSKIP("the store file cannot be made read-only here (root, and no bind mount)");
        QVERIFY(bench.open());
        QVERIFY2(bench.text("noticeLabel").startsWith("ERROR: the results store cannot be"),
                 qPrintable(bench.text("noticeLabel")));
        for (const char* serial : {"SN-600", "SN-601"}) {
            bench.scan(QString::fromLatin1(serial));
            QCOMPARE(bench.window->page(), StationWindow::Page::Verdict);
            QCOMPARE(bench.text("verdictLabel"), QStringLiteral("ERROR"));
            QVERIFY2(bench.text("verdictDetailLabel").contains("the results store cannot be"),
                     qPrintable(bench.text("verdictDetailLabel")));
        }
        QVERIFY(bench.sim.frames().empty());
        QCOMPARE(rows(bench.storePath(), "SELECT COUNT(*) FROM runs"), QStringList{"0"});
    }
};

QTEST_MAIN(TestStation)
#include "test_station.moc"
