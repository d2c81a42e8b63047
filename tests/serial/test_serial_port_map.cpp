// Port numbering without hardware: the order of device names, overrides
// taking the place of the rule, and the --port-device option text.
#include "serial/port_map.h"

#include <QTest>

#include <stdexcept>

using namespace rio::serial;

namespace {

PortMap::DeviceSource devices(const QStringList& names) {
    return [names] {
        std::vector<PresentDevice> present;
        for (const QString& name : names) {
            present.push_back({name, "/dev/" + name, "about " + name});
        }
        return present;
    };
}

} // namespace

class TestSerialPortMap : public QObject {
    Q_OBJECT
private slots:
    void order_data() {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("built-in, then USB, then ACM, then others")
            << QStringList{"ttyACM0", "rfcomm0", "ttyUSB0", "ttyS0"}
            << QStringList{"ttyS0", "ttyUSB0", "ttyACM0", "rfcomm0"};
        QTest::newRow("numbers compare as numbers")
            << QStringList{"ttyS10", "ttyS2", "ttyS1"} << QStringList{"ttyS1", "ttyS2", "ttyS10"};
        QTest::newRow("USB adapters by number") << QStringList{"ttyUSB11", "ttyUSB3", "ttyS4"}
                                                << QStringList{"ttyS4", "ttyUSB3", "ttyUSB11"};
        QTest::newRow("others by name, then by number")
            << QStringList{"ttyAMA10", "rfcomm1", "ttyAMA2"}
            << QStringList{"rfcomm1", "ttyAMA2", "ttyAMA10"};
        QTest::newRow("a longer name is not a built-in port")
            << QStringList{"ttySAC0", "ttyUSB0", "ttyS1"}
            << QStringList{"ttyS1", "ttyUSB0", "ttySAC0"};
        QTest::newRow("paths order by their last part")
            << QStringList{"/dev/ttyUSB0", "/dev/ttyS3"}
            << QStringList{"/dev/ttyS3", "/dev/ttyUSB0"};
        QTest::newRow("nothing present") << QStringList{} << QStringList{};
    }
    void order() {
        QFETCH(QStringList, names);
        QFETCH(QStringList, expected);
        QCOMPARE(orderDeviceNames(names), expected);
    }

    void numbersFollowTheOrder() {
        const PortMap map{devices({"ttyUSB0", "ttyS10", "ttyS2"})};
#ifdef Q_OS_WIN
        QSKIP("Windows numbers ports by their COM name");
#endif
        QCOMPARE(map.devicePath(1), std::optional<QString>("/dev/ttyS2"));
        QCOMPARE(map.devicePath(2), std::optional<QString>("/dev/ttyS10"));
        QCOMPARE(map.devicePath(3), std::optional<QString>("/dev/ttyUSB0"));
        QCOMPARE(map.devicePath(4), std::nullopt);
        QCOMPARE(map.devicePath(0), std::nullopt);
    }

    void overridesWin() {
        PortMap map{devices({"ttyS0", "ttyUSB0"})};
        map.addOverride({1, "/dev/pts/7"});
        map.addOverride({5, "/dev/ttyACM3"});
        QCOMPARE(map.devicePath(1), std::optional<QString>("/dev/pts/7"));
        QCOMPARE(map.devicePath(5), std::optional<QString>("/dev/ttyACM3"));
#ifndef Q_OS_WIN
        // The other numbers keep their devices.
        QCOMPARE(map.devicePath(2), std::optional<QString>("/dev/ttyUSB0"));
        const std::vector<NumberedPort> expected{
            {1, "/dev/pts/7", "given with --port-device"},
            {2, "/dev/ttyUSB0", "about ttyUSB0"},
            {5, "/dev/ttyACM3", "given with --port-device"},
        };
        QCOMPARE(map.numbering(), expected);
#endif
    }

    void laterOverrideReplacesEarlier() {
        PortMap map{devices({})};
        map.addOverride({2, "/dev/pts/1"});
        map.addOverride({2, "/dev/pts/4"});
        QCOMPARE(map.devicePath(2), std::optional<QString>("/dev/pts/4"));
        QCOMPARE(map.numbering().size(), std::size_t{1});
    }

    void devicesAreLookedUpEachTime() {
        // An adapter plugged in after start-up gets a number.
        auto names = std::make_shared<QStringList>();
        const PortMap map{[names] { return devices(*names)(); }};
        QCOMPARE(map.devicePath(1), std::nullopt);
        names->append("ttyUSB0");
#ifndef Q_OS_WIN
        QCOMPARE(map.devicePath(1), std::optional<QString>("/dev/ttyUSB0"));
#endif
        QCOMPARE(map.numbering().size(), std::size_t{1});
    }

    void optionAccepted_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("path");
        QTest::newRow("a pseudo-terminal") << "1=/dev/pts/3" << 1 << "/dev/pts/3";
        QTest::newRow("two-digit number") << "12=/dev/ttyUSB0" << 12 << "/dev/ttyUSB0";
        QTest::newRow("path keeps its own equals sign") << "2=/tmp/a=b" << 2 << "/tmp/a=b";
        QTest::newRow("Windows name") << "3=COM7" << 3 << "COM7";
    }
    void optionAccepted() {
        QFETCH(QString, text);
        QFETCH(int, number);
        QFETCH(QString, path);
        const PortOverride parsed = parsePortOverride(text);
        QCOMPARE(parsed.number, number);
        QCOMPARE(parsed.devicePath, path);
    }

    void optionRefused_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("no equals sign") << "1/dev/pts/3";
        QTest::newRow("no number") << "=/dev/pts/3";
        QTest::newRow("no path") << "1=";
        QTest::newRow("number zero") << "0=/dev/pts/3";
        QTest::newRow("negative number") << "-1=/dev/pts/3";
        QTest::newRow("plus sign") << "+1=/dev/pts/3";
        QTest::newRow("blank in the number") << " 1=/dev/pts/3";
        QTest::newRow("word for a number") << "one=/dev/pts/3";
        QTest::newRow("number too large") << "99999999999=/dev/pts/3";
    }
    void optionRefused() {
        QFETCH(QString, text);
        try {
            (void)parsePortOverride(text);
            QFAIL("accepted");
        } catch (const std::invalid_argument& e) {
            // The message tells the user what the option wants.
            QVERIFY2(QString::fromStdString(e.what()).contains("N=PATH"), e.what());
        }
    }
};

QTEST_GUILESS_MAIN(TestSerialPortMap)
#include "test_serial_port_map.moc"
