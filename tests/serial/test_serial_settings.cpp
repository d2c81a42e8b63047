// The settings text: which texts are taken, the speed read from them, that a
// refused text leaves the control's settings as they were and that the tests'
// fake port refuses it too, and the text written for a speed.
#include "serial/qt_serial_control.h"
#include "serial/settings_text.h"
#include "tests/support/fake_port.h"

#include <QTest>

#include <limits>

using namespace rio::serial;

Q_DECLARE_METATYPE(std::string)

class TestSerialSettings : public QObject {
    Q_OBJECT
private slots:
    void accepted_data() {
        QTest::addColumn<std::string>("text");
        QTest::addColumn<int>("speed");
        QTest::newRow("9600 with its blank") << std::string(" 9600,N,8,1") << 9600;
        QTest::newRow("1200") << std::string(" 1200,N,8,1") << 1200;
        QTest::newRow("115200") << std::string(" 115200,N,8,1") << 115200;
        QTest::newRow("leading zeros") << std::string(" 09600,N,8,1") << 9600;
        QTest::newRow("largest a device can be given")
            << std::string(" 2147483647,N,8,1") << 2147483647;
    }
    void accepted() {
        QFETCH(std::string, text);
        QFETCH(int, speed);
        QCOMPARE(speedFromSettings(text), speed);
    }

    void refused_data() {
        QTest::addColumn<std::string>("text");
        QTest::newRow("negative") << std::string("-9600,N,8,1");
        QTest::newRow("minus zero") << std::string("-0,N,8,1");
        QTest::newRow("zero") << std::string(" 0,N,8,1");
        QTest::newRow("not a number") << std::string(" abc,N,8,1");
        QTest::newRow("no leading blank") << std::string("9600,N,8,1");
        QTest::newRow("two blanks") << std::string("  9600,N,8,1");
        QTest::newRow("plus sign") << std::string("+9600,N,8,1");
        QTest::newRow("even parity") << std::string(" 9600,E,8,1");
        QTest::newRow("seven data bits") << std::string(" 9600,N,7,1");
        QTest::newRow("two stop bits") << std::string(" 9600,N,8,2");
        QTest::newRow("lower-case parity") << std::string(" 9600,n,8,1");
        QTest::newRow("trailing blank") << std::string(" 9600,N,8,1 ");
        QTest::newRow("speed missing") << std::string(" ,N,8,1");
        QTest::newRow("format missing") << std::string(" 9600");
        QTest::newRow("too large for a device") << std::string(" 99999999999,N,8,1");
        QTest::newRow("one past the largest") << std::string(" 2147483648,N,8,1");
        QTest::newRow("empty") << std::string();
    }
    void refused() {
        QFETCH(std::string, text);
        QVERIFY_THROWS_EXCEPTION(PortError, (void)speedFromSettings(text));

        QtSerialControl control{PortMap{[] { return std::vector<PresentDevice>{}; }}};
        control.setSettings(" 19200,N,8,1");
        QVERIFY_THROWS_EXCEPTION(PortError, control.setSettings(text));
        QCOMPARE(control.settings(), std::string(" 19200,N,8,1"));

        rio::test::FakePort fake;
        fake.setSettings(" 19200,N,8,1");
        QVERIFY_THROWS_EXCEPTION(PortError, fake.setSettings(text));
        QCOMPARE(fake.settings(), std::string(" 19200,N,8,1"));
    }

    void written_data() {
        QTest::addColumn<int>("speed");
        QTest::addColumn<std::string>("text");
        QTest::newRow("9600 gets its blank") << 9600 << std::string(" 9600,N,8,1");
        QTest::newRow("zero gets a blank") << 0 << std::string(" 0,N,8,1");
        QTest::newRow("negative gets a minus sign") << -9600 << std::string("-9600,N,8,1");
        QTest::newRow("the largest") << 2147483647 << std::string(" 2147483647,N,8,1");
        QTest::newRow("the most negative")
            << std::numeric_limits<int>::min() << std::string("-2147483648,N,8,1");
    }
    void written() {
        QFETCH(int, speed);
        QFETCH(std::string, text);
        QCOMPARE(settingsText(speed), text);
    }
};

QTEST_GUILESS_MAIN(TestSerialSettings)
#include "test_serial_settings.moc"
