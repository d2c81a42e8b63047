// The poll timer on the real window and event loop, against the scripted
// port answering as boards would: who is served when, and what nested ticks,
// STOP, START and "ComPort Initialize" do to a waiting exchange.

#include "panel/colours.h"
#include "panel/form1.h"
#include "tests/support/fake_port.h"
#include "tests/support/turn_rule.h"

#include <QTest>

#include <algorithm>
#include <set>

using namespace rio::panel;
using namespace std::chrono_literals;

namespace {

const std::string ack = "\x06", etx = "\x03";

// Boards answering every request at once, but for the silent addresses.
std::string answer(const std::string& request, const std::set<std::string>& silent = {}) {
    const std::string addr = request.substr(1, 2);
    if (silent.count(addr))
        return {};
    if (request[3] == 'R')
        return ack + addr + "R" + "00000000" + "0000" + "0000" + etx;
    return ack + addr + "W" + request.substr(4, 8) + etx;
}

// "R01" for a read request to board 01.
QStringList traffic(const std::vector<std::string>& sent, std::size_t from = 0) {
    QStringList seen;
    for (std::size_t i = from; i < sent.size(); ++i)
        seen << QString::fromStdString(sent[i].substr(3, 1) + sent[i].substr(1, 2));
    return seen;
}

// The turn kept, and all three boards served.
void checkServedInTurn(const QStringList& sent) {
    const QString broken = rio::test::turnBroken(sent);
    QVERIFY2(broken.isEmpty(), qPrintable(broken));
    QVERIFY(sent.contains("R01") && sent.contains("R02") && sent.contains("R03"));
}

struct Panel {
    rio::test::FakePort* port;
    std::unique_ptr<Form1> form;
    int exits = 0;
};

std::unique_ptr<Panel> openPanel() {
    auto panel = std::make_unique<Panel>();
    auto port = std::make_unique<rio::test::FakePort>();
    panel->port = port.get();
    panel->form = std::make_unique<Form1>(std::move(port));
    panel->form->setProcessEnd([p = panel.get()](int) { ++p->exits; });
    panel->form->Form_Load();
    panel->form->Command2_Click();
    return panel;
}

} // namespace

class TestPollTimer : public QObject {
    Q_OBJECT
private slots:
    void boardsServedInTurn() {
        auto panel = openPanel();
        panel->port->respond = [](const std::string& r) { return answer(r); };
        QTest::mouseClick(panel->form->Command5, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(panel->port->sent.size() >= 14, 5000);
        panel->form->Command6_Click();
        checkServedInTurn(traffic(panel->port->sent).mid(0, 14));
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(panel->form->Label2[0]->text(), "#1 Write OK");
    }

    void tickDuringAWaitStartsNothingAndKeepsTheTurn() {
        auto panel = openPanel();
        panel->port->respond = [](const std::string& r) { return answer(r, {"01"}); };
        QTest::mouseClick(panel->form->Command5, Qt::LeftButton);
        // Board 1's two silent waits take about 0.4 s: several ticks fall due
        // inside them and run nested.
        QTRY_VERIFY_WITH_TIMEOUT(panel->port->sent.size() >= 3, 5000);
        QVERIFY(panel->form->deepestTickNesting() >= 2);
        QCOMPARE(traffic(panel->port->sent).mid(0, 3), (QStringList{"R01", "W01", "R02"}));
        QCOMPARE(panel->form->Label2[0]->text(), QString::fromUtf8("#1 응답이 없습니다"));
        panel->form->Command6_Click();
    }

    void slowBoardsStillServedOneTwoThree() {
        // Each exchange takes 60 ms, so a board's read and write outlast a
        // tick: the turn still goes 1, 2, 3, 1, ...
        auto panel = openPanel();
        panel->port->respond = [](const std::string& r) { return answer(r); };
        panel->port->replyDelay = 60ms;
        QTest::mouseClick(panel->form->Command5, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(panel->port->sent.size() >= 18, 10000);
        panel->form->Command6_Click();
        checkServedInTurn(traffic(panel->port->sent).mid(0, 18));
        if (QTest::currentTestFailed())
            return;
        QVERIFY(panel->form->deepestTickNesting() >= 2);
    }

    void silentBoardCostsOnlyItsOwnTurn() {
        auto panel = openPanel();
        panel->port->respond = [](const std::string& r) { return answer(r, {"02"}); };
        QTest::mouseClick(panel->form->Command5, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(panel->port->sent.size() >= 12, 10000);
        panel->form->Command6_Click();
        checkServedInTurn(traffic(panel->port->sent).mid(0, 12));
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(panel->form->Label2[1]->text(), QString::fromUtf8("#2 응답이 없습니다"));
        QVERIFY(panel->form->Text15->text().isEmpty());
    }

    void stopEndsTrafficAndStartResumesWithTheNextBoard() {
        auto panel = openPanel();
        panel->port->respond = [](const std::string& r) { return answer(r); };
        QTest::mouseClick(panel->form->Command5, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(panel->port->sent.size() >= 2, 5000);
        QTest::mouseClick(panel->form->Command6, Qt::LeftButton);
        const std::size_t before = panel->port->sent.size();
        QCOMPARE(traffic(panel->port->sent), (QStringList{"R01", "W01"}));
        QTest::qWait(350); // three ticks' worth: nothing may go out
        QCOMPARE(panel->port->sent.size(), before);

        QTest::mouseClick(panel->form->Command5, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(panel->port->sent.size() >= before + 2, 5000);
        panel->form->Command6_Click();
        QCOMPARE(traffic(panel->port->sent, before).mid(0, 2), (QStringList{"R02", "W02"}));
    }

    // STOP or ComPort Initialize pressed right after Timer1 fell due, with
    // its tick already posted: that tick must not serve a board.
    void tickPostedBeforeStopOrInitializeNeverRuns_data() {
        QTest::addColumn<QString>("button");
        QTest::newRow("STOP") << "Command6";
        QTest::newRow("ComPort Initialize") << "Command2";
    }
    void tickPostedBeforeStopOrInitializeNeverRuns() {
        QFETCH(QString, button);
        auto panel = openPanel();
        Form1& form = *panel->form;
        panel->port->respond = [](const std::string& r) { return answer(r); };
        auto* press = form.findChild<GraphicButton*>(button);
        QVERIFY(press);
        bool pressed = false;
        // Connected after the panel's own slot, so the tick is posted first.
        QObject::connect(form.Timer1, &QTimer::timeout, &form, [&] {
            if (!pressed) {
                pressed = true;
                QTest::mouseClick(press, Qt::LeftButton);
            }
        });
        QTest::mouseClick(form.Command5, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(pressed, 5000);
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QVERIFY(!form.Timer1->isActive());
        QCOMPARE(traffic(panel->port->sent), QStringList());
    }

    void stopAndStartDuringAWaitLetsANewExchangeBegin() {
        auto panel = openPanel();
        Form1& form = *panel->form;
        panel->port->respond = [](const std::string& r) { return answer(r, {"01"}); };
        // While board 1's first read waits, STOP clears the flags and START
        // lets the next tick, nested in the wait, begin exchanges of its own.
        std::vector<int> nestingAtSend;
        panel->port->onOutput = [&](const std::string&) {
            nestingAtSend.push_back(form.tickNesting());
            if (nestingAtSend.size() == 1)
                QTimer::singleShot(30, &form, [&form] {
                    QVERIFY(form.ReadBusy == 1);
                    QTest::mouseClick(form.Command6, Qt::LeftButton);
                    QTest::mouseClick(form.Command5, Qt::LeftButton);
                });
        };
        QTest::mouseClick(form.Command5, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(panel->port->sent.size() >= 6, 10000);
        form.Command6_Click();
        QTRY_COMPARE_WITH_TIMEOUT(form.tickNesting(), 0, 5000);
        QVERIFY(std::count(nestingAtSend.begin(), nestingAtSend.end(), 2) >= 1);
        QCOMPARE(form.ReadBusy, 0);
        QCOMPARE(form.WriteBusy, 0);
        QCOMPARE(form.Command6->backColor(), kRed);
    }

    void initializeDuringAWaitKeepsThePortUsable() {
        auto panel = openPanel();
        Form1& form = *panel->form;
        panel->port->respond = [](const std::string& r) { return answer(r); };
        panel->port->replyDelay = 80ms;
        // Reopened while board 1's read waits: the exchange goes on reading
        // the reopened port and gets its reply.
        bool clicked = false;
        panel->port->onOutput = [&](const std::string& sent) {
            if (sent[3] == 'R' && !clicked) {
                clicked = true;
                QTimer::singleShot(20, &form, [&form] {
                    QVERIFY(form.ReadBusy == 1);
                    QTest::mouseClick(form.Command2, Qt::LeftButton);
                });
            }
        };
        QTest::mouseClick(form.Command5, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(clicked, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(form.tickNesting(), 0, 5000);
        QCOMPARE(panel->port->openCount, 2);
        QCOMPARE(form.Text2->text().size(), 21);
        QVERIFY(!form.Timer1->isActive()); // the reopen stopped polling
    }

    void failedReopenDuringAWaitEndsItAsNoAnswer() {
        auto panel = openPanel();
        Form1& form = *panel->form;
        panel->port->respond = [](const std::string& r) { return answer(r); };
        panel->port->replyDelay = 80ms;
        bool clicked = false;
        panel->port->onOutput = [&](const std::string&) {
            if (!clicked) {
                clicked = true;
                QTimer::singleShot(20, &form, [&form] {
                    form.Text7->setText("9"); // no such port
                    QTest::mouseClick(form.Command2, Qt::LeftButton);
                });
            }
        };
        QTest::mouseClick(form.Command5, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(clicked, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(form.tickNesting(), 0, 5000);
        QCOMPARE(form.Label2[0]->text(), QString::fromUtf8("#1 응답이 없습니다"));
        QVERIFY(form.Text2->text().isEmpty());
        QCOMPARE(form.ReadBusy, 0);
        QCOMPARE(form.WriteBusy, 0);
        QCOMPARE(panel->port->sent.size(), std::size_t(1));
    }

    void closedPortShowsNoAnswerEveryPoll() {
        auto panel = openPanel();
        panel->form->Text7->setText("9"); // no such port
        panel->form->Command2_Click();
        panel->form->Text4->setText("old");
        QTest::mouseClick(panel->form->Command5, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(panel->form->Label2[0]->text(),
                                  QString::fromUtf8("#1 응답이 없습니다"), 2000);
        QVERIFY(panel->form->Text4->text().isEmpty());
        panel->form->Command6_Click();
    }
};

QTEST_MAIN(TestPollTimer)
#include "test_poll_timer.moc"
