// The panel driven by clicks against the board simulator over a real
// pseudo-terminal with the line time of 9600 bit/s emulated.

#include "panel/colours.h"
#include "tests/support/pseudo_terminal.h"
#include "tests/support/sim_panel.h"
#include "tests/support/turn_rule.h"

#include <QTest>

using namespace rio::panel;
using rio::test::SimPanel;
using rio::test::turns;

namespace {

rio::sim::SimConfig nineSixHundred() {
    rio::sim::SimConfig config;
    config.baud = 9600;
    return config;
}

const QString kFailure = QString::fromUtf8("통신포트를 열 수 없습니다.");

} // namespace

class TestSimPanel : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { RIO_SKIP_WITHOUT_PSEUDO_TERMINAL(); }

    void initializeOpensTheLine() {
        SimPanel panel(nineSixHundred());
        Form1& form = *panel.form;
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QCOMPARE(form.Label3->text(), "Port No:1   Speed:9600");
        QVERIFY(form.MSComm1->portOpen());
        QCOMPARE(form.Command2->backColor(), kGreen);

        // Again: closed and reopened, no error for the close.
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QCOMPARE(form.Label3->text(), "Port No:1   Speed:9600");
        QVERIFY(form.MSComm1->portOpen());

        form.Text7->setText("01");
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QCOMPARE(form.Label3->text(), "Port No:01   Speed:9600");
        QVERIFY(form.MSComm1->portOpen());
    }

    void initializeFailures_data() {
        QTest::addColumn<QString>("portText");
        QTest::newRow("letters") << "ab";
        QTest::newRow("unmapped number") << "2";
    }
    void initializeFailures() {
        QFETCH(QString, portText);
        SimPanel panel(nineSixHundred());
        Form1& form = *panel.form;
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QVERIFY(form.MSComm1->portOpen());
        form.Text7->setText(portText);
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QCOMPARE(form.Label3->text(), kFailure);
        QVERIFY(!form.MSComm1->portOpen());
    }

    void deviceInUseIsRefusedAndTheHolderUndisturbed() {
        SimPanel panel(nineSixHundred());
        rio::serial::QtSerialControl holder(
            rio::test::portOneIs(QString::fromStdString(panel.path)));
        holder.setPortOpen(true);
        QTest::mouseClick(panel.form->Command2, Qt::LeftButton);
        QCOMPARE(panel.form->Label3->text(), kFailure);
        QVERIFY(!panel.form->MSComm1->portOpen());

        // The first holder still talks to board 01.
        holder.output("\x05"
                      "01R\x04");
        std::string reply;
        QTRY_VERIFY_WITH_TIMEOUT((reply += holder.input()).find('\x03') != std::string::npos, 5000);
        QCOMPARE(reply.size(), std::size_t(21));
    }

    void initializeWhilePollingLeavesThePanelStopped() {
        SimPanel panel(nineSixHundred());
        Form1& form = *panel.form;
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QTest::mouseClick(form.Command5, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(panel.requests().size() >= 2, 5000);
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QCOMPARE(form.Command5->backColor(), kButtonFace);
        QCOMPARE(form.Command6->backColor(), kRed);
        QVERIFY(!form.Timer1->isActive());
        QVERIFY(form.MSComm1->portOpen());
    }

    void boardsPolledInTurnWithoutFalseNoAnswers() {
        SimPanel panel(nineSixHundred());
        Form1& form = *panel.form;
        panel.watchForNoAnswers();
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QTest::mouseClick(form.Command5, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(panel.requests().size() >= 25, 10000);
        QTest::mouseClick(form.Command6, Qt::LeftButton);
        const QString broken = rio::test::turnBroken(panel.requests().mid(0, 24));
        QVERIFY2(broken.isEmpty(), qPrintable(broken));
        QCOMPARE(panel.noAnswers[0] + panel.noAnswers[1] + panel.noAnswers[2], 0);
        // The default boards read 512 and 1023, shown without leading zeros.
        QCOMPARE(form.Text5->text(), "512");
        QCOMPARE(form.Text6->text(), "1023");
        QCOMPARE(form.Text19->text(), "512");
        QCOMPARE(form.Text2->text().toLatin1(), QByteArray("\x06"
                                                           "01R000000000512"
                                                           "1023\x03"));
    }

    void toggledOutputsGoOutAndComeBackAsInputs() {
        SimPanel panel(nineSixHundred());
        Form1& form = *panel.form;
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QTest::mouseClick(form.Command4[0], Qt::LeftButton);
        QTest::mouseClick(form.Command4[2], Qt::LeftButton);
        QTest::mouseClick(form.Command24[7], Qt::LeftButton);
        QTest::mouseClick(form.Command5, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(panel.requests().size() >= 8, 10000);
        QTest::mouseClick(form.Command6, Qt::LeftButton);

        // Outputs 1 and 3 on board 1: the write frame carries index 7 first.
        QCOMPARE(QString::fromStdString(panel.sim.outputs("01")), "00000101");
        QCOMPARE(QString::fromStdString(panel.sim.outputs("03")), "10000000");
        QCOMPARE(form.Text3->text().toLatin1(), QByteArray("\x05"
                                                           "01W00000101\x04"));
        // The loop-back inputs come back on the next read of the board.
        QTRY_COMPARE_WITH_TIMEOUT(form.Command3[0]->backColor(), kRed, 5000);
        QCOMPARE(form.Command3[2]->backColor(), kRed);
        for (int k : {1, 3, 4, 5, 6, 7})
            QCOMPARE(form.Command3[std::size_t(k)]->backColor(), kButtonFace);
        QCOMPARE(form.InBits1,
                 std::optional(rio::protocol::Bits{'1', '0', '1', '0', '0', '0', '0', '0'}));
    }

    void stopEndsTrafficAndStartResumesWithTheNextBoard() {
        SimPanel panel(nineSixHundred());
        Form1& form = *panel.form;
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QTest::mouseClick(form.Command5, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(panel.requests().size() >= 4, 5000);
        QTest::mouseClick(form.Command6, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(form.tickNesting(), 0, 5000);
        const QStringList before = panel.requests();
        QCOMPARE(before.size() % 2, 0);
        QTest::qWait(400); // four ticks' time: the line stays quiet
        QCOMPARE(panel.requests(), before);

        QTest::mouseClick(form.Command5, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(panel.requests().size() >= before.size() + 2, 5000);
        form.Command6_Click();
        const int next = int(before.size() / 2) % 3 + 1;
        QCOMPARE(panel.requests().mid(before.size(), 2), turns(1, next));
    }

    void lateReplyFromBeforeAReopenIsDropped() {
        rio::sim::SimConfig config = nineSixHundred();
        config.boards[0].behaviour = *rio::sim::parseBehaviour("late:800");
        SimPanel panel(config);
        Form1& form = *panel.form;
        panel.sim.setAnalog("01", 111, 111);
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        form.ReadBoard1(); // gives up after about 0.2 s
        QCOMPARE(form.Label2[0]->text(), QString::fromUtf8("#1 응답이 없습니다"));
        form.MSComm1->setPortOpen(false);
        QTest::qWait(900); // the late reply lands while the port is closed
        panel.sim.setBehaviour("01", {});
        panel.sim.setAnalog("01", 222, 222);
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        form.ReadBoard1();
        QCOMPARE(form.Label2[0]->text(), "#1 Read OK");
        QCOMPARE(form.Text5->text(), "222"); // this session's reply, not the stale one
    }
};

QTEST_MAIN(TestSimPanel)
#include "test_sim_panel.moc"
