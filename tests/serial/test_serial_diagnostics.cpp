// Why a port will not open and what --doctor says: the reasons and verdicts
// from facts, and on a pseudo-terminal the reasons the control throws and
// logs, and the stable name found for a device.
#include "serial/doctor.h"
#include "serial/log.h"
#include "serial/open_failure.h"
#include "serial/qt_serial_control.h"
#include "tests/support/port_maps.h"
#include "tests/support/pseudo_terminal.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

using namespace rio::serial;

Q_DECLARE_METATYPE(rio::serial::OpenFacts)
Q_DECLARE_METATYPE(rio::serial::DoctorFacts)
Q_DECLARE_METATYPE(rio::serial::Verdict)

namespace {

OpenFacts openFacts(OpenCause cause) {
    OpenFacts facts;
    facts.cause = cause;
    facts.devicePath = "/dev/ttyUSB0";
    return facts;
}

OpenFacts refused(const std::string& group, bool listed, bool active) {
    OpenFacts facts = openFacts(OpenCause::PermissionDenied);
    facts.group = group;
    facts.userListed = listed;
    facts.groupActive = active;
    return facts;
}

// A USB adapter on the FTDI driver, tuned, for a user of group dialout: every
// check passes. Each row below spoils one thing.
DoctorFacts healthy() {
    DoctorFacts facts;
    facts.devicePath = facts.resolvedPath = QStringLiteral("/dev/ttyUSB0");
    facts.characterDevice = true;
    facts.takesLineSettings = true;
    facts.readWrite = true;
    facts.group = GroupFacts{"dialout", true, true, true};
    facts.latency =
        LatencyTimer{QStringLiteral("/sys/bus/usb-serial/devices/ttyUSB0/latency_timer"), 1};
    facts.usb = true;
    facts.stableName = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_A10K1ABC-if00-port0");
    return facts;
}

// A Windows COM port that opens and takes line settings.
DoctorFacts comPort() {
    DoctorFacts facts;
    facts.devicePath = facts.resolvedPath = QStringLiteral("COM3");
    facts.comPort = true;
    facts.takesLineSettings = true;
    return facts;
}

struct Logged {
    QtMsgType type;
    QString category;
    QString text;
};
QList<Logged> g_logged;

void capture(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    g_logged.append({type, QString::fromLatin1(context.category), text});
}

// Whether another open file description holds the device's lock.
bool lockedElsewhere(const QString& path) {
    const int fd =
        ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return locked;
}

// What opening port 1 on path throws.
QString openFailure(const QString& path) {
    QtSerialControl control{rio::test::portOneIs(path)};
    try {
        control.setPortOpen(true);
    } catch (const PortError& error) {
        return QString::fromStdString(error.what());
    }
    return QStringLiteral("(opened)");
}

} // namespace

class TestSerialDiagnostics : public QObject {
    Q_OBJECT
private slots:
    void openFailureReason_data() {
        QTest::addColumn<OpenFacts>("facts");
        QTest::addColumn<QStringList>("says");
        QTest::addColumn<QString>("never");

        QTest::newRow("no such device")
            << openFacts(OpenCause::NoDevice)
            << QStringList{"cannot open /dev/ttyUSB0: no such device"} << "permission";
        QTest::newRow("not in the group: how to join")
            << refused("dialout", false, false)
            << QStringList{"cannot open /dev/ttyUSB0: permission denied", "group dialout",
                           "sudo usermod -aG dialout $USER, then log out and in"}
            << "next login";
        QTest::newRow("the device's own group is named")
            << refused("uucp", false, false) << QStringList{"sudo usermod -aG uucp $USER"}
            << "dialout";
        QTest::newRow("listed but not active: until the next login")
            << refused("dialout", true, false)
            << QStringList{"permission denied", "group dialout", "not active until the next login"}
            << "usermod";
        QTest::newRow("in the group and still refused")
            << refused("dialout", true, true)
            << QStringList{"permission denied although you are in its group dialout"} << "usermod";
        QTest::newRow("permission denied, group unknown")
            << refused("", false, false)
            << QStringList{"cannot open /dev/ttyUSB0: permission denied"} << "usermod";
        OpenFacts held = openFacts(OpenCause::InUse);
        held.holder = Holder{4321, "minicom -D /dev/ttyUSB0"};
        QTest::newRow("in use: the holder named")
            << held
            << QStringList{"cannot open /dev/ttyUSB0: in use by another program: pid 4321 "
                           "(minicom -D /dev/ttyUSB0)"}
            << "permission";
        QTest::newRow("in use: holder not found")
            << openFacts(OpenCause::InUse)
            << QStringList{"cannot open /dev/ttyUSB0: in use by another program, one this user "
                           "cannot see"}
            << "pid";
        OpenFacts speed = openFacts(OpenCause::SpeedRefused);
        speed.speed = 250000;
        speed.systemText = "Invalid argument";
        QTest::newRow("a speed the device refuses")
            << speed
            << QStringList{"cannot open /dev/ttyUSB0: the device refuses speed 250000 bit/s "
                           "(Invalid argument)"}
            << "in use";
        OpenFacts other = openFacts(OpenCause::Other);
        other.systemText = "Input/output error\nagain";
        QTest::newRow("anything else: the system's words, on one line")
            << other << QStringList{"cannot open /dev/ttyUSB0: Input/output error again"} << "\n";
    }
    void openFailureReason() {
        QFETCH(OpenFacts, facts);
        QFETCH(QStringList, says);
        QFETCH(QString, never);
        const QString reason = QString::fromStdString(rio::serial::openFailureReason(facts));
        for (const QString& fragment : says)
            QVERIFY2(reason.contains(fragment), qPrintable(reason));
        QVERIFY2(!reason.contains(never), qPrintable(reason));
    }

    void doctorLines_data() {
        QTest::addColumn<DoctorFacts>("facts");
        QTest::addColumn<QString>("check");
        QTest::addColumn<Verdict>("verdict");
        QTest::addColumn<QString>("says");
        QTest::addColumn<int>("exitCode");

        QTest::newRow("a sound line passes")
            << healthy() << "group" << Verdict::Ok << "you are in group dialout" << 0;
        DoctorFacts missing = healthy();
        missing.missingError = ENOENT;
        QTest::newRow("no device there") << missing << "device" << Verdict::Fail
                                         << "/dev/ttyUSB0: No such file or directory" << 1;
        DoctorFacts notTerminal = healthy();
        notTerminal.takesLineSettings = false;
        QTest::newRow("a character device that is no terminal")
            << notTerminal << "terminal" << Verdict::Fail << "not a terminal" << 1;
        DoctorFacts outsider = healthy();
        outsider.readWrite = false;
        outsider.openError = EACCES;
        outsider.group->userListed = outsider.group->activeHere = false;
        QTest::newRow("not in the group")
            << outsider << "group" << Verdict::Fail
            << "sudo usermod -aG dialout $USER, then log out and in" << 1;
        QTest::newRow("no access, and the group that grants it")
            << outsider << "access" << Verdict::Fail << "group dialout grants it" << 1;
        DoctorFacts pending = outsider;
        pending.group->userListed = true;
        QTest::newRow("membership pending a new login")
            << pending << "group" << Verdict::Fail << "not active until the next login" << 1;
        DoctorFacts unlisted = healthy();
        unlisted.group->userListed = false;
        QTest::newRow("group active in this session only: warns, and passes")
            << unlisted << "group" << Verdict::Warn << "the next login will not" << 0;
        DoctorFacts held = healthy();
        held.holder = Holder{4321, "minicom"};
        QTest::newRow("another program holds it")
            << held << "in use" << Verdict::Fail << "pid 4321 (minicom)" << 1;
        DoctorFacts locked = healthy();
        locked.lockedElsewhere = true;
        QTest::newRow("locked by a program that cannot be named")
            << locked << "in use" << Verdict::Fail << "held for exclusive use" << 1;
        DoctorFacts modem = healthy();
        modem.modemManager = true;
        QTest::newRow("ModemManager running warns, and passes")
            << modem << "ModemManager" << Verdict::Warn << "probes new USB serial adapters" << 0;
        DoctorFacts slow = healthy();
        slow.latency->milliseconds = 16;
        QTest::newRow("FTDI latency timer at 16 ms warns, and says set 1")
            << slow << "latency" << Verdict::Warn
            << "echo 1 | sudo tee /sys/bus/usb-serial/devices/ttyUSB0/latency_timer" << 0;
        DoctorFacts unnamed = healthy();
        unnamed.stableName.clear();
        QTest::newRow("USB adapter without a by-id name warns")
            << unnamed << "stable name" << Verdict::Warn << "/dev/serial/by-id" << 0;

        // A COM port: only whether it is there, opens and is free are checked.
        QTest::newRow("COM port that opens")
            << comPort() << "opens" << Verdict::Ok << "it opens and takes line settings" << 0;
        DoctorFacts noCom = comPort();
        noCom.comMissing = true;
        QTest::newRow("COM port not there")
            << noCom << "device" << Verdict::Fail << "COM3: no such port" << 1;
        DoctorFacts heldCom = comPort();
        heldCom.comHeld = true;
        QTest::newRow("COM port another program has open")
            << heldCom << "in use" << Verdict::Fail << "another program has COM3 open" << 1;
        DoctorFacts brokenCom = comPort();
        brokenCom.comError = QStringLiteral("The device is not ready.");
        QTest::newRow("COM port that will not open for another reason")
            << brokenCom << "opens" << Verdict::Fail << "cannot open COM3: The device is not ready."
            << 1;
        DoctorFacts plainCom = comPort();
        plainCom.takesLineSettings = false;
        QTest::newRow("COM port that takes no line settings")
            << plainCom << "opens" << Verdict::Fail << "takes no line settings" << 1;
    }
    void doctorLines() {
        QFETCH(DoctorFacts, facts);
        QFETCH(QString, check);
        QFETCH(Verdict, verdict);
        QFETCH(QString, says);
        QFETCH(int, exitCode);
        const auto lines = rio::serial::doctorLines(facts);
        const auto line = std::find_if(lines.begin(), lines.end(),
                                       [&](const DoctorLine& l) { return l.check == check; });
        QVERIFY2(line != lines.end(), qPrintable(check));
        QCOMPARE(line->verdict, verdict);
        QVERIFY2(line->text.contains(says), qPrintable(line->text));
        QCOMPARE(doctorExitCode(lines), exitCode);
    }

    void missingDeviceIsLoggedWithItsReason() {
        QVERIFY(lcSerial().isWarningEnabled());
        QVERIFY(!lcSerial().isDebugEnabled());
        g_logged.clear();
        const QtMessageHandler previous = qInstallMessageHandler(capture);
        const QString thrown = openFailure(QStringLiteral("/dev/pts/999999"));
        qInstallMessageHandler(previous);
        QCOMPARE(thrown, QStringLiteral("port 1: cannot open /dev/pts/999999: no such device "
                                        "(unplugged, or under another name: riopanel "
                                        "--list-ports shows what is there)"));
        QCOMPARE(g_logged.size(), 1);
        QCOMPARE(g_logged[0].type, QtWarningMsg);
        QCOMPARE(g_logged[0].category, QStringLiteral("rio.serial"));
        QCOMPARE(g_logged[0].text, thrown);
    }

    void deviceHeldByAnotherProgramIsNamed() {
        RIO_SKIP_WITHOUT_PSEUDO_TERMINAL();
        const rio::test::PseudoTerminal pty;
        const QString path = QString::fromStdString(pty.path());
        const QString flock = QStandardPaths::findExecutable(QStringLiteral("flock"));
        if (flock.isEmpty())
            QSKIP("no flock program here to hold the device with");
        // flock(1) locks the device as a program of another author would; the
        // program it runs is named with a terminal's control sequence, which
        // the message must not pass on.
        const QTemporaryDir folder;
        const QString sleeper = folder.filePath(QStringLiteral("\x1b]0;owned\x07sleep"));
        QVERIFY(QFile::link(QStandardPaths::findExecutable(QStringLiteral("sleep")), sleeper));
        QProcess other;
        other.start(flock, {path, sleeper, QStringLiteral("60")});
        QVERIFY(other.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(lockedElsewhere(path), 10000);
        const QString thrown = openFailure(path);
        other.kill();
        other.waitForFinished();
        QVERIFY2(thrown.startsWith(QStringLiteral("port 1: cannot open %1: in use by another "
                                                  "program: pid ")
                                       .arg(path)),
                 qPrintable(thrown));
        QVERIFY2(thrown.contains(QStringLiteral("<1B>]0;")), qPrintable(thrown));
        QVERIFY2(!thrown.contains(QChar(0x1b)) && !thrown.contains(QChar(0x07)),
                 qPrintable(thrown));
    }

    void stableNameFromTheByIdFolder() {
        RIO_SKIP_WITHOUT_PSEUDO_TERMINAL();
        const rio::test::PseudoTerminal pty;
        const QString path = QString::fromStdString(pty.path());
        QTemporaryDir byId;
        QVERIFY(byId.isValid());
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), byId.filePath("usb-Other_Thing-if00")));
        QVERIFY(QFile::link(path, byId.filePath("usb-FTDI_FT232R_A10K1ABC-if00-port0")));
        QCOMPARE(stableName(path, byId.path()),
                 byId.filePath("usb-FTDI_FT232R_A10K1ABC-if00-port0"));
        QCOMPARE(stableName(QStringLiteral("/dev/zero"), byId.path()), QString());
    }
};

QTEST_GUILESS_MAIN(TestSerialDiagnostics)
#include "test_serial_diagnostics.moc"
