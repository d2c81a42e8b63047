// The panel's own handlers, driven as an operator drives them: typing into the
// boxes, clicking the buttons.

#include "panel/colours.h"
#include "panel/form1.h"
#include "tests/support/fake_port.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTest>

using namespace rio::panel;
using rio::protocol::Bits;

namespace {

struct Panel {
    rio::test::FakePort* port;
    std::unique_ptr<Form1> form;
    std::vector<int> exits;
};

std::unique_ptr<Panel> makePanel(bool load = true) {
    auto panel = std::make_unique<Panel>();
    auto port = std::make_unique<rio::test::FakePort>();
    panel->port = port.get();
    panel->form = std::make_unique<Form1>(std::move(port));
    panel->form->setProcessEnd([p = panel.get()](int code) { p->exits.push_back(code); });
    if (load)
        panel->form->Form_Load();
    return panel;
}

const Bits kAllOff{'0', '0', '0', '0', '0', '0', '0', '0'};

// The program's pump, counted.
struct CountingPump : rio::exchange::EventPump {
    explicit CountingPump(int& pumps) : m_pumps(pumps) {}
    void pumpOnce() override {
        ++m_pumps;
        QCoreApplication::processEvents();
    }
    void pumpUntil(rio::exchange::Clock::time_point) override { pumpOnce(); }
    void beginWait(std::chrono::microseconds) override {}
    void endWait() override {}
    int& m_pumps;
};

void retype(QLineEdit* box, const QString& text) {
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    // keyClicks only knows ASCII; other characters arrive as the text of a
    // key event, as an input method delivers them.
    for (QChar c : text) {
        if (c.unicode() < 0x80)
            QTest::keyClick(box, c.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

} // namespace

class TestActions : public QObject {
    Q_OBJECT
private slots:
    void everythingEmptyBeforeLoad() {
        auto panel = makePanel(false);
        for (QLineEdit* box : panel->form->findChildren<QLineEdit*>())
            QVERIFY2(box->text().isEmpty(), qPrintable(box->objectName()));
        for (QLabel* status : panel->form->Label2)
            QVERIFY(status->text().isEmpty());
        QVERIFY(panel->form->Label3->text().isEmpty());
        for (GraphicButton* button : panel->form->findChildren<GraphicButton*>())
            QCOMPARE(button->backColor(), kButtonFace);
        QVERIFY(!panel->form->Timer1->isActive());
        QVERIFY(panel->form->BoardAddr1.empty());
    }

    void defaultsAfterLoad() {
        auto panel = makePanel();
        Form1& form = *panel->form;
        QCOMPARE(form.BoardAddr1, "01");
        QCOMPARE(form.BoardAddr2, "02");
        QCOMPARE(form.BoardAddr3, "03");
        QCOMPARE(form.Text7->text(), "1");
        QCOMPARE(form.Text8->text(), "9600");
        QCOMPARE(form.Text9->text(), "1");
        QCOMPARE(form.Text10->text(), "2");
        QCOMPARE(form.Text17->text(), "3");
        QCOMPARE(form.OutBits1, kAllOff);
        QCOMPARE(form.OutBits2, kAllOff);
        QCOMPARE(form.OutBits3, kAllOff);
        for (const BoardBinding& board : form.boards())
            for (GraphicButton* button : board.outputs)
                QCOMPARE(button->backColor(), kButtonFace);
        QCOMPARE(form.Command6->backColor(), kRed);
        QCOMPARE(form.Command5->backColor(), kButtonFace);
        QVERIFY(!form.Timer1->isActive());
        QCOMPARE(form.Timer1->interval(), 100);
        QCOMPARE(form.ReadBusy, 0);
        QCOMPARE(form.WriteBusy, 0);
        QVERIFY(!panel->port->portOpen());
        QCOMPARE(panel->port->openCount, 0);
    }

    void typedAddressBecomesTheBoardAddress_data() {
        QTest::addColumn<int>("board");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("address");
        QTest::newRow("board 1: 7") << 0 << "7"
                                    << "07";
        QTest::newRow("board 1: 1234") << 0 << "1234"
                                       << "34";
        QTest::newRow("board 2: cleared") << 1 << ""
                                          << "00";
        QTest::newRow("board 2: A") << 1 << "A"
                                    << "0A";
        QTest::newRow("board 3: 15") << 2 << "15"
                                     << "15";
        QTest::newRow("board 3: Hangul goes out as ?") << 2 << QString::fromUtf8("가") << "0?";
    }
    void typedAddressBecomesTheBoardAddress() {
        QFETCH(int, board);
        QFETCH(QString, typed);
        QFETCH(QString, address);
        auto panel = makePanel();
        panel->form->show();
        QVERIFY(QTest::qWaitForWindowActive(panel->form.get()));
        const BoardBinding& binding = panel->form->boards()[std::size_t(board)];
        retype(binding.address, typed);
        QCOMPARE(QString::fromStdString(binding.state->address), address);
        // The other boards keep theirs.
        for (const BoardBinding& other : panel->form->boards())
            if (&other != &binding)
                QCOMPARE(QString::fromStdString(other.state->address),
                         QStringLiteral("0%1").arg(other.number));
    }

    void addressFollowsEveryEdit() {
        auto panel = makePanel();
        panel->form->show();
        QVERIFY(QTest::qWaitForWindowActive(panel->form.get()));
        retype(panel->form->Text17, "1");
        QCOMPARE(panel->form->BoardAddr3, "01");
        QTest::keyClicks(panel->form->Text17, "5");
        QCOMPARE(panel->form->BoardAddr3, "15");
        QTest::keyClick(panel->form->Text17, Qt::Key_Backspace);
        QCOMPARE(panel->form->BoardAddr3, "01");
    }

    void framesAndAnalogBoxesRefuseTyping() {
        auto panel = makePanel();
        panel->form->show();
        QVERIFY(QTest::qWaitForWindowActive(panel->form.get()));
        for (QLineEdit* box : {panel->form->Text1, panel->form->Text2, panel->form->Text5,
                               panel->form->Text20, panel->form->Text18}) {
            box->setFocus();
            QTest::keyClicks(box, "123");
            QVERIFY2(box->text().isEmpty(), qPrintable(box->objectName()));
        }
        QCOMPARE(panel->form->BoardAddr1, "01");
    }

    void outputButtonsToggleByColour() {
        auto panel = makePanel();
        Form1& form = *panel->form;
        QTest::mouseClick(form.Command14[3], Qt::LeftButton);
        QCOMPARE(form.Command14[3]->backColor(), kGreen);
        QCOMPARE(form.OutBits2[3], '1');
        QTest::mouseClick(form.Command14[3], Qt::LeftButton);
        QCOMPARE(form.Command14[3]->backColor(), kButtonFace);
        QCOMPARE(form.OutBits2[3], '0');

        // Only the pressed button and its own board's bit change.
        QTest::mouseClick(form.Command4[7], Qt::LeftButton);
        QTest::mouseClick(form.Command24[0], Qt::LeftButton);
        QCOMPARE(form.OutBits1, (Bits{'0', '0', '0', '0', '0', '0', '0', '1'}));
        QCOMPARE(form.OutBits2, kAllOff);
        QCOMPARE(form.OutBits3, (Bits{'1', '0', '0', '0', '0', '0', '0', '0'}));

        // The colour decides, not the stored bit: a button showing any colour
        // other than ButtonFace turns the output off.
        form.Command4[2]->setBackColor(kRed);
        form.OutBits1[2] = '0';
        form.Command4_Click(2);
        QCOMPARE(form.Command4[2]->backColor(), kButtonFace);
        QCOMPARE(form.OutBits1[2], '0');
        form.OutBits1[5] = '1';
        form.Command4_Click(5);
        QCOMPARE(form.Command4[5]->backColor(), kGreen);
        QCOMPARE(form.OutBits1[5], '1');
        QVERIFY(panel->port->sent.empty()); // nothing goes out at once
    }

    void handlersPumpThroughTheLine() {
        // A test or benchmark pump sees every pump the panel makes, not only
        // the exchanges'.
        int pumps = 0;
        Form1 form(std::make_unique<rio::test::FakePort>(), std::make_unique<CountingPump>(pumps));
        form.setProcessEnd([](int) {});
        form.Form_Load();
        pumps = 0;
        QTest::mouseClick(form.Command4[0], Qt::LeftButton);
        QCOMPARE(pumps, 1);
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QCOMPARE(pumps, 2);
    }

    void keyboardTogglesAnOutput() {
        auto panel = makePanel();
        panel->form->show();
        QVERIFY(QTest::qWaitForWindowActive(panel->form.get()));
        panel->form->Command24[6]->setFocus();
        QTest::keyClick(panel->form->Command24[6], Qt::Key_Space);
        QCOMPARE(panel->form->OutBits3[6], '1');
    }

    void returnEnterAndSpaceClickAFocusedButton_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier);
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
        QTest::newRow("Space") << int(Qt::Key_Space) << int(Qt::NoModifier);
    }
    void returnEnterAndSpaceClickAFocusedButton() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        auto panel = makePanel();
        Form1& form = *panel->form;
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        const auto press = [&](GraphicButton* button) {
            button->setFocus();
            QTest::keyClick(button, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        };

        press(form.Command4[2]);
        QCOMPARE(form.Command4[2]->backColor(), kGreen);
        QCOMPARE(form.OutBits1, (Bits{'0', '0', '1', '0', '0', '0', '0', '0'}));
        press(form.Command4[2]);
        QCOMPARE(form.Command4[2]->backColor(), kButtonFace);
        QCOMPARE(form.OutBits1, kAllOff);

        QTest::mouseClick(form.Command5, Qt::LeftButton);
        QVERIFY(form.Timer1->isActive());
        press(form.Command6);
        QCOMPARE(form.Command6->backColor(), kRed);
        QVERIFY(!form.Timer1->isActive());
    }

    void startAndStop() {
        auto panel = makePanel();
        Form1& form = *panel->form;
        for (QLabel* status : form.Label2)
            status->setText("#? Write OK");
        form.ReadBusy = 1;
        form.WriteBusy = 1;

        QTest::mouseClick(form.Command5, Qt::LeftButton);
        QCOMPARE(form.Command5->backColor(), kRed);
        QCOMPARE(form.Command6->backColor(), kButtonFace);
        QVERIFY(form.Timer1->isActive());
        for (QLabel* status : form.Label2)
            QVERIFY(status->text().isEmpty());
        QCOMPARE(form.ReadBusy, 1);          // START leaves the flags alone
        QCOMPARE(panel->port->openCount, 0); // and does not touch the port

        form.Label2[1]->setText("#2 Read OK");
        QTest::mouseClick(form.Command6, Qt::LeftButton);
        QCOMPARE(form.Command5->backColor(), kButtonFace);
        QCOMPARE(form.Command6->backColor(), kRed);
        QVERIFY(!form.Timer1->isActive());
        QCOMPARE(form.ReadBusy, 0);
        QCOMPARE(form.WriteBusy, 0);
        QCOMPARE(form.Label2[1]->text(), "#2 Read OK"); // STOP keeps the status texts
    }

    void clickingAnIndicatorChangesNothing() {
        auto panel = makePanel();
        Form1& form = *panel->form;
        form.Command13[2]->setBackColor(kRed);
        const Bits out = form.OutBits2;
        QTest::mouseClick(form.Command13[2], Qt::LeftButton);
        QTest::mouseClick(form.Command3[0], Qt::LeftButton);
        QCOMPARE(form.Command13[2]->backColor(), kRed);
        QCOMPARE(form.Command3[0]->backColor(), kButtonFace);
        QCOMPARE(form.OutBits2, out);
        QVERIFY(!form.InBits2.has_value());
    }

    void exitClosesThePortAndEndsWithZero() {
        auto panel = makePanel();
        panel->port->setPortOpen(true);
        QTest::mouseClick(panel->form->Command1, Qt::LeftButton);
        QVERIFY(!panel->port->portOpen());
        QCOMPARE(panel->exits, std::vector<int>{0});

        // A port that is not open is no reason to stay.
        auto closed = makePanel();
        QTest::mouseClick(closed->form->Command1, Qt::LeftButton);
        QCOMPARE(closed->exits, std::vector<int>{0});
    }

    // The real thing: a process whose Exit is clicked ends at once with 0,
    // also while an exchange waits for a silent board, and so does the close
    // box.
    void exitEndsTheProcess_data() {
        QTest::addColumn<QString>("scenario");
        QTest::newRow("stopped") << "exit";
        QTest::newRow("during a wait") << "exit-during-wait";
        QTest::newRow("close box during a wait") << "close-during-wait";
    }
    void exitEndsTheProcess() {
        QFETCH(QString, scenario);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {"--child", scenario});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.readAllStandardOutput(), QByteArray());
        QCOMPARE(child.exitCode(), 0);
    }
};

// With --child SCENARIO this program is the panel whose Exit gets clicked (or
// whose window is closed); if that did not end it, it says so and leaves with 3.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc > 2 && std::string_view(argv[1]) == "--child") {
        const std::string_view scenario = argv[2];
        auto port = std::make_unique<rio::test::FakePort>(); // a board that never answers
        rio::test::FakePort* line = port.get();
        Form1 form(std::move(port));
        form.Form_Load();
        form.show();
        auto end = [&form, scenario] {
            if (scenario == "close-during-wait")
                form.close();
            else
                QTest::mouseClick(form.Command1, Qt::LeftButton);
        };
        if (scenario == "exit") {
            QTimer::singleShot(0, &form, end);
        } else {
            // Once the first request is out, the exchange waits ~0.2 s.
            line->onOutput = [&form, end](const std::string&) {
                QTimer::singleShot(50, &form, [&form, end] {
                    if (form.ReadBusy != 1)
                        std::printf("not waiting\n");
                    end();
                });
            };
            form.Command2_Click();
            form.Command5_Click();
        }
        QTimer::singleShot(10000, &app, [] { QCoreApplication::exit(3); });
        QApplication::exec();
        std::printf("still running after Exit\n");
        return 3;
    }
    TestActions test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_actions.moc"
