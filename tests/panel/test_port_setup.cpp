// "ComPort Initialize" and the port status line, against the scripted port:
// what reaches the port, in which order, and what the panel shows.

#include "panel/colours.h"
#include "panel/form1.h"
#include "tests/support/fake_port.h"

#include <QTest>

using namespace rio::panel;

Q_DECLARE_METATYPE(std::string)

namespace {

const QString kFailure = QString::fromUtf8("통신포트를 열 수 없습니다.");

struct Panel {
    rio::test::FakePort* port;
    std::unique_ptr<Form1> form;
};

Panel makePanel() {
    auto port = std::make_unique<rio::test::FakePort>();
    Panel panel{port.get(), std::make_unique<Form1>(std::move(port))};
    panel.form->setProcessEnd([](int) {});
    panel.form->Form_Load();
    return panel;
}

} // namespace

class TestPortSetup : public QObject {
    Q_OBJECT
private slots:
    void opensWithTheBoxesValues_data() {
        QTest::addColumn<QString>("portText");
        QTest::addColumn<QString>("speedText");
        QTest::addColumn<int>("port");
        QTest::addColumn<std::string>("settings");
        QTest::addColumn<QString>("status");
        QTest::newRow("defaults") << "1"
                                  << "9600" << 1 << std::string(" 9600,N,8,1")
                                  << "Port No:1   Speed:9600";
        QTest::newRow("01 shows as typed")
            << "01"
            << "9600" << 1 << std::string(" 9600,N,8,1") << "Port No:01   Speed:9600";
        QTest::newRow("blanks around")
            << " 2 "
            << "115200" << 2 << std::string(" 115200,N,8,1") << "Port No: 2    Speed:115200";
        QTest::newRow("plus sign")
            << "+1"
            << "+1200" << 1 << std::string(" 1200,N,8,1") << "Port No:+1   Speed:+1200";
    }
    void opensWithTheBoxesValues() {
        QFETCH(QString, portText);
        QFETCH(QString, speedText);
        QFETCH(int, port);
        QFETCH(std::string, settings);
        QFETCH(QString, status);
        Panel panel = makePanel();
        panel.port->existingPorts = {1, 2};
        panel.form->Text7->setText(portText);
        panel.form->Text8->setText(speedText);
        QTest::mouseClick(panel.form->Command2, Qt::LeftButton);
        QVERIFY(panel.port->portOpen());
        QCOMPARE(panel.port->commPort(), port);
        QCOMPARE(panel.port->settings(), settings);
        QCOMPARE(panel.form->Label3->text(), status);
        QCOMPARE(panel.form->PortNo, port);
    }

    void refusedEntriesShowTheOneFailureText_data() {
        QTest::addColumn<QString>("portText");
        QTest::addColumn<QString>("speedText");
        QTest::newRow("letters for the port") << "COM1"
                                              << "9600";
        QTest::newRow("empty port box") << ""
                                        << "9600";
        QTest::newRow("fraction") << "1.5"
                                  << "9600";
        QTest::newRow("port 0") << "0"
                                << "9600";
        QTest::newRow("negative port") << "-1"
                                       << "9600";
        QTest::newRow("port beyond 16 bits") << "32768"
                                             << "9600";
        QTest::newRow("40 digits") << QString(40, '9') << "9600";
        QTest::newRow("unmapped port") << "7"
                                       << "9600";
        QTest::newRow("letters for the speed") << "1"
                                               << "fast";
        QTest::newRow("speed zero") << "1"
                                    << "0";
        QTest::newRow("negative speed") << "1"
                                        << "-9600";
        QTest::newRow("speed beyond 32 bits") << "1"
                                              << "2147483648";
        QTest::newRow("blank inside") << "1"
                                      << "96 00";
        QTest::newRow("100 kB pasted") << QString(100000, 'x') << "9600";
    }
    void refusedEntriesShowTheOneFailureText() {
        QFETCH(QString, portText);
        QFETCH(QString, speedText);
        Panel panel = makePanel();
        panel.form->Text7->setText(portText);
        panel.form->Text8->setText(speedText);
        QTest::mouseClick(panel.form->Command2, Qt::LeftButton);
        QCOMPARE(panel.form->Label3->text(), kFailure);
        QVERIFY(!panel.port->portOpen());
        QCOMPARE(panel.form->Command2->backColor(), kGreen); // it ran, the status line tells
        QCOMPARE(panel.form->Command6->backColor(), kRed);
    }

    void valuesTakenBeforeAFailureStay() {
        Panel panel = makePanel();
        panel.form->Text7->setText("5");
        panel.form->Text8->setText("abc");
        panel.form->Command2_Click();
        QCOMPARE(panel.form->PortNo, 5); // taken before the speed failed
        QCOMPARE(panel.form->Label3->text(), kFailure);

        panel.form->Text8->setText("4800");
        panel.form->Command2_Click(); // port 5 has no device
        QCOMPARE(panel.form->PortSpeed, 4800);
        QCOMPARE(panel.port->commPort(), 5);
        QCOMPARE(panel.port->settings(), std::string(" 4800,N,8,1"));
        QVERIFY(!panel.port->portOpen());
    }

    void deviceInUseFails() {
        Panel panel = makePanel();
        panel.port->inUse = true;
        panel.form->Command2_Click();
        QCOMPARE(panel.form->Label3->text(), kFailure);
        QVERIFY(!panel.port->portOpen());
    }

    void pressingTwiceReopens() {
        Panel panel = makePanel();
        panel.form->Command2_Click();
        QVERIFY(panel.port->portOpen());
        panel.form->Command2_Click();
        QVERIFY(panel.port->portOpen());
        QCOMPARE(panel.port->openCount, 2);
        QCOMPARE(panel.port->closeCount, 1);
        QCOMPARE(panel.form->Label3->text(), "Port No:1   Speed:9600");

        // A failed reopen leaves the port closed: the old line is let go.
        panel.form->Text7->setText("9");
        panel.form->Command2_Click();
        QVERIFY(!panel.port->portOpen());
        QCOMPARE(panel.form->Label3->text(), kFailure);
    }

    void leavesThePanelStopped() {
        Panel panel = makePanel();
        Form1& form = *panel.form;
        QTest::mouseClick(form.Command5, Qt::LeftButton); // START
        QVERIFY(form.Timer1->isActive());
        for (QLabel* status : form.Label2)
            status->setText("#1 Write OK");
        form.ReadBusy = 1;
        form.WriteBusy = 1;

        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QVERIFY(!form.Timer1->isActive());
        QCOMPARE(form.Command5->backColor(), kButtonFace);
        QCOMPARE(form.Command6->backColor(), kRed);
        QCOMPARE(form.Command2->backColor(), kGreen);
        QCOMPARE(form.ReadBusy, 0);
        QCOMPARE(form.WriteBusy, 0);
        for (QLabel* status : form.Label2)
            QVERIFY(status->text().isEmpty());
    }

    void tooltipNamesTheDevice() {
        Panel panel = makePanel();
        panel.form->setPortNamer([](int number) -> std::optional<QString> {
            if (number == 1)
                return QStringLiteral("/dev/ttyUSB0");
            return std::nullopt;
        });
        QVERIFY(panel.form->Text7->toolTip().contains("/dev/ttyUSB0"));
        panel.form->Text7->setText("4");
        QVERIFY(!panel.form->Text7->toolTip().contains("/dev/"));
        QVERIFY(panel.form->Text7->toolTip().contains("--list-ports"));
        panel.form->Text7->setText("01");
        QVERIFY(panel.form->Text7->toolTip().contains("/dev/ttyUSB0"));
    }
};

QTEST_MAIN(TestPortSetup)
#include "test_port_setup.moc"
