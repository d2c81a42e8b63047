// Thirty seconds of polling with board 2 silent: boards 1 and 3 are served
// every cycle and never reported as silent.

#include "tests/support/pseudo_terminal.h"
#include "tests/support/sim_panel.h"
#include "tests/support/turn_rule.h"

#include <QTest>

using rio::test::SimPanel;

class TestSimSilentBoard : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { RIO_SKIP_WITHOUT_PSEUDO_TERMINAL(); }

    void silentBoardCostsOnlyItsOwnTurn() {
        rio::sim::SimConfig config;
        config.baud = 9600;
        config.boards[1].behaviour = *rio::sim::parseBehaviour("silent");
        SimPanel panel(config);
        rio::panel::Form1& form = *panel.form;
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        panel.watchForNoAnswers();
        QTest::mouseClick(form.Command5, Qt::LeftButton);
        QTest::qWait(30000);
        form.Command6_Click();
        QTRY_COMPARE_WITH_TIMEOUT(form.tickNesting(), 0, 5000);

        const QStringList seen = panel.requests();
        // In turn, whatever the silent board costs.
        const QString broken = rio::test::turnBroken(seen);
        QVERIFY2(broken.isEmpty(), qPrintable(broken));
        const auto served = [&](const char* read) { return seen.count(QLatin1String(read)); };
        qInfo("in 30 s: board 1 read %lld times, board 2 %lld, board 3 %lld",
              qlonglong(served("R01")), qlonglong(served("R02")), qlonglong(served("R03")));
        // Every cycle reaches all three boards; a cycle with one silent board
        // lasts about four ticks (two of its waits, the other two boards).
        QVERIFY(served("R01") >= 40);
        // A board served twice in a row now and then (see turn_rule.h) moves
        // the counts apart by as much; none falls behind for its neighbour.
        QVERIFY(qAbs(served("R01") - served("R03")) <= 3);
        QVERIFY(qAbs(served("R01") - served("R02")) <= 3);
        QCOMPARE(panel.noAnswers[0], 0);
        QCOMPARE(panel.noAnswers[2], 0);
        QVERIFY(panel.noAnswers[1] > 0);
        QCOMPARE(form.Label2[1]->text(), QString::fromUtf8("#2 응답이 없습니다"));
    }
};

QTEST_MAIN(TestSimSilentBoard)
#include "test_sim_silent_board.moc"
