// Misbehaving boards: each simulator behaviour on board 2 while boards 1 and
// 3 answer correctly, for at least 100 polls. Board 2 shows what its replies
// deserve; boards 1 and 3 show OK and their own readings, whatever board 2
// leaves on the line. A reply that comes after its exchange gave up is a
// real collision when it lands inside another board's exchange: that one
// exchange may end in an error (never a no-answer), and the next is clean.
//
// The line runs at 115200 bit/s and the poll timer at 20 ms instead of 100,
// so that 100 polls of each behaviour take seconds; every tick still serves
// one board, and ticks fall due inside every wait.

#include "tests/faults/fault_support.h"
#include "tests/support/sim_panel.h"

#include <QTest>

using namespace rio::faults;
using rio::test::SimPanel;

namespace {

constexpr int kPolls = 100;

enum Expect : int {
    Ok = 1,       // "#2 Read OK" and "#2 Write OK" only
    Errors = 2,   // "#2 Read Error" or "#2 Write Error"
    NoAnswer = 4, // "#2 응답이 없습니다"
};

} // namespace

Q_DECLARE_METATYPE(Expect)

class TestFaultBoards : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { RIO_SKIP_WITHOUT_PSEUDO_TERMINAL(); }

    void oneBoardMisbehaves_data() {
        QTest::addColumn<QString>("behaviour");
        QTest::addColumn<int>("allowed");   // what board 2 may show
        QTest::addColumn<int>("required");  // what it must show at least once
        QTest::addColumn<bool>("collides"); // its late replies may land in others' exchanges
        QTest::newRow("silent") << "silent" << int(NoAnswer) << int(NoAnswer) << false;
        QTest::newRow("delay within the wait") << "delay:60" << int(Ok) << int(Ok) << false;
        QTest::newRow("delay past the wait")
            << "delay:400" << (NoAnswer | Errors) << int(NoAnswer) << true;
        QTest::newRow("late") << "late" << (NoAnswer | Errors) << int(NoAnswer) << true;
        QTest::newRow("split") << "split:4:15" << int(Ok) << int(Ok) << false;
        QTest::newRow("bad-ack") << "bad-ack" << int(Errors) << int(Errors) << false;
        QTest::newRow("bad-command") << "bad-command" << int(Errors) << int(Errors) << false;
        QTest::newRow("etx-moved") << "etx-moved" << int(Errors) << int(Errors) << false;
        QTest::newRow("extra-byte") << "extra-byte" << (Ok | Errors) << 0 << false;
        QTest::newRow("garbage") << "garbage" << (Errors | NoAnswer) << (Errors | NoAnswer)
                                 << false;
    }
    void oneBoardMisbehaves() {
        QFETCH(QString, behaviour);
        QFETCH(int, allowed);
        QFETCH(int, required);
        QFETCH(bool, collides);
        rio::sim::SimConfig config;
        config.baud = 115200;
        config.boards[0].ramp = true;
        config.boards[1].behaviour = *rio::sim::parseBehaviour(behaviour.toStdString());
        SimPanel panel(config);
        rio::panel::Form1& form = *panel.form;
        QTest::mouseClick(form.Command4[0], Qt::LeftButton);
        QTest::mouseClick(form.Command24[7], Qt::LeftButton);
        form.Text8->setText(QStringLiteral("115200"));
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        form.Timer1->setInterval(20);
        StatusLog log(form);
        QTest::mouseClick(form.Command5, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(panel.requests().count(QStringLiteral("R01")) +
                                         panel.requests().count(QStringLiteral("R02")) +
                                         panel.requests().count(QStringLiteral("R03")) >=
                                     kPolls,
                                 60000);
        form.Command6_Click();
        QTRY_COMPARE_WITH_TIMEOUT(form.tickNesting(), 0, 5000);
        qInfo("board 1: %s", qPrintable(log.describe(0)));
        qInfo("board 2: %s", qPrintable(log.describe(1)));
        qInfo("board 3: %s", qPrintable(log.describe(2)));

        // The good boards: only OK, never a false no-answer or error.
        for (std::size_t good : {0u, 2u}) {
            const QString n = QString::number(good + 1);
            QVERIFY2(log.count(good, QStringLiteral("#%1 Read OK").arg(n)) > 0,
                     qPrintable(log.describe(good)));
            QCOMPARE(log.count(good, kNoAnswer), 0);
            const int errors = log.count(good, QStringLiteral("Error"));
            if (collides)
                QVERIFY2(errors * 5 <= log.count(good, QStringLiteral("OK")),
                         qPrintable(log.describe(good)));
            else
                QCOMPARE(errors, 0);
        }
        // Their displays hold their own readings: board 3's inputs mirror
        // its output 8, board 1's analog A ramps.
        QCOMPARE(form.Command23[7]->backColor(), rio::panel::kRed);
        QCOMPARE(form.Text20->text().size(), 13);

        // Board 2 shows what its replies deserve.
        const int okCount = log.count(1, QStringLiteral("OK"));
        const int errorCount = log.count(1, QStringLiteral("Error"));
        const int silentCount = log.count(1, kNoAnswer);
        if (!(allowed & Ok))
            QVERIFY2(okCount == 0 || errorCount + silentCount > 0, qPrintable(log.describe(1)));
        if (!(allowed & Errors))
            QVERIFY2(errorCount == 0, qPrintable(log.describe(1)));
        if (!(allowed & NoAnswer))
            QVERIFY2(silentCount == 0, qPrintable(log.describe(1)));
        if (required & Ok)
            QVERIFY(okCount > 0);
        if (required & (Errors | NoAnswer))
            QVERIFY2(errorCount + silentCount > 0, qPrintable(log.describe(1)));
        QCOMPARE(form.ReadBusy, 0);
        QCOMPARE(form.WriteBusy, 0);
    }
};

QTEST_MAIN(TestFaultBoards)
#include "test_fault_boards.moc"
