// The control on a pseudo-terminal the test makes: the test holds the far end
// (the master) and plays the boards' side of the line, port 1 being tied to
// the near end with an override as a user would with --port-device.
#include "serial/qt_serial_control.h"
#include "tests/support/port_maps.h"
#include "tests/support/pseudo_terminal.h"

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

using namespace rio::serial;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::string)

namespace {

// Generous bound for the line to carry bytes; only a broken run reaches it.
constexpr std::chrono::milliseconds kBound = 5s;

class PseudoTerminal {
public:
    PseudoTerminal() {
        rio::test::PseudoTerminal opened;
        if (!opened.isOpen()) {
            m_problem = opened.problem();
            return;
        }
        const std::string path = opened.path();
        m_master = opened.release();
        termios raw{};
        if (::tcgetattr(m_master, &raw) != 0) {
            m_problem = QStringLiteral("pseudo-terminal setup: %1").arg(std::strerror(errno));
            return;
        }
        ::cfmakeraw(&raw);
        ::tcsetattr(m_master, TCSANOW, &raw);
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        m_slavePath = QString::fromStdString(path);
    }
    ~PseudoTerminal() { closeMaster(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    [[nodiscard]] bool usable() const { return m_problem.isEmpty(); }
    [[nodiscard]] QString problem() const { return m_problem; }
    [[nodiscard]] QString slavePath() const { return m_slavePath; }

    // What a vanished device looks like from the near end.
    void closeMaster() {
        if (m_master >= 0) {
            ::close(m_master);
            m_master = -1;
        }
    }

    [[nodiscard]] bool send(std::string_view bytes) const {
        return ::write(m_master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Whatever arrives, up to count bytes, within the bound.
    [[nodiscard]] std::string receive(std::size_t count) const {
        std::string got;
        const QDeadlineTimer deadline(kBound);
        while (got.size() < count && !deadline.hasExpired()) {
            pollfd entry{m_master, POLLIN, 0};
            if (::poll(&entry, 1, static_cast<int>(deadline.remainingTime())) != 1) {
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n > 0) {
                got.append(buffer, static_cast<std::size_t>(n));
            }
        }
        return got;
    }

private:
    int m_master = -1;
    QString m_slavePath;
    QString m_problem;
};

#define REQUIRE_PTY(pty)                                                                           \
    RIO_SKIP_WITHOUT_PSEUDO_TERMINAL();                                                            \
    PseudoTerminal pty;                                                                            \
    QVERIFY2(pty.usable(), qPrintable(pty.problem()))

using rio::test::portOneIs;

std::string everyByteValue() {
    std::string bytes;
    for (int value = 0; value < 256; ++value) {
        bytes.push_back(static_cast<char>(value));
    }
    return bytes;
}

// One poll of the control, for QTRY: adds what input() gives to got and says
// whether count bytes have come.
bool gathered(QtSerialControl& control, std::string& got, std::size_t count) {
    got += control.input();
    return got.size() >= count;
}

constexpr int kBoundMs = static_cast<int>(kBound.count());

// Read requests for boards 01 and 02, as the panel sends them.
const std::string kReadRequest = std::string(1, '\x05') + "01R\x04";
const std::string kReadRequestTwo = std::string(1, '\x05') + "02R\x04";

// The line settings as the device holds them, read through a second handle.
std::optional<termios> deviceTermios(const QString& path) {
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    termios settings{};
    const bool ok = ::tcgetattr(fd, &settings) == 0;
    ::close(fd);
    return ok ? std::optional(settings) : std::nullopt;
}

} // namespace

class TestSerialPty : public QObject {
    Q_OBJECT
private slots:
    void outputReachesTheLine_data() {
        QTest::addColumn<std::string>("bytes");
        QTest::newRow("every byte value, 0x00 and 0xFF included") << everyByteValue();
        QTest::newRow("a read request") << kReadRequest;
        QTest::newRow("a lone zero byte") << std::string(1, '\0');
        QTest::newRow("three thousand bytes") << std::string(3000, '\xA5') + everyByteValue();
    }
    void outputReachesTheLine() {
        QFETCH(std::string, bytes);
        REQUIRE_PTY(pty);
        QtSerialControl control{portOneIs(pty.slavePath())};
        control.setPortOpen(true);
        // No event loop runs between output and the far end reading.
        control.output(bytes);
        QCOMPARE(pty.receive(bytes.size()), bytes);
    }

    void writeTheDeviceCannotTakeThrows() {
        // The far end reads nothing, so the system's buffers fill and the
        // rest of the bytes cannot be handed over.
        REQUIRE_PTY(pty);
        QtSerialControl control{portOneIs(pty.slavePath())};
        control.setSettings(" 2147483647,N,8,1");
        control.setPortOpen(true);
        QVERIFY_THROWS_EXCEPTION(PortError, control.output(std::string(1 << 20, 'w')));
        // A stuck line is not a vanished device.
        QVERIFY(control.portOpen());
    }

    void inputTakesWhatArrived() {
        REQUIRE_PTY(pty);
        QtSerialControl control{portOneIs(pty.slavePath())};
        control.setPortOpen(true);
        QCOMPARE(control.input(), std::string());
        const std::string bytes =
            everyByteValue() + std::string(1, '\x06') + "01R1000000105121023\x03";
        QVERIFY(pty.send(bytes));
        std::string got;
        QTRY_VERIFY_WITH_TIMEOUT(gathered(control, got, bytes.size()), kBoundMs);
        QCOMPARE(got, bytes);
        QCOMPARE(control.input(), std::string());
    }

    void inputWithoutTheEventLoop() {
        REQUIRE_PTY(pty);
        QtSerialControl control{portOneIs(pty.slavePath())};
        control.setPortOpen(true);
        const std::string bytes = std::string(3000, '\x5A') + everyByteValue();
        QVERIFY(pty.send(bytes));
        // Deliberately no event processing here: input() alone must fetch what
        // the system has received.
        std::string got;
        const QDeadlineTimer deadline(kBound);
        while (got.size() < bytes.size() && !deadline.hasExpired()) {
            got += control.input();
        }
        QCOMPARE(got, bytes);
    }

    void secondControlIsRefused() {
        REQUIRE_PTY(pty);
        QtSerialControl first{portOneIs(pty.slavePath())};
        QtSerialControl second{portOneIs(pty.slavePath())};
        first.setPortOpen(true);
        QVERIFY_THROWS_EXCEPTION(PortError, second.setPortOpen(true));
        QVERIFY(!second.portOpen());

        // The first still has the line to itself.
        QVERIFY(first.portOpen());
        first.output(kReadRequest);
        QCOMPARE(pty.receive(5), kReadRequest);
        QVERIFY(pty.send("\x06"));
        std::string got;
        QTRY_VERIFY_WITH_TIMEOUT(gathered(first, got, 1), kBoundMs);
        QCOMPARE(got, std::string("\x06"));
    }

    void deviceLockedElsewhereIsRefused() {
        // Another program, not written with Qt, holding a lock on the device.
        REQUIRE_PTY(pty);
        const int other = ::open(pty.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        QVERIFY(other >= 0);
        QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), 0);
        QtSerialControl control{portOneIs(pty.slavePath())};
        QVERIFY_THROWS_EXCEPTION(PortError, control.setPortOpen(true));
        QVERIFY(!control.portOpen());

        ::close(other);
        control.setPortOpen(true);
        QVERIFY(control.portOpen());
    }

    void openPortHoldsALock() {
        REQUIRE_PTY(pty);
        QtSerialControl control{portOneIs(pty.slavePath())};
        control.setPortOpen(true);
        const int other =
            ::open(pty.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (other < 0) {
            QSKIP("the device is already kept from other users; nothing more to show");
        }
        const int locked = ::flock(other, LOCK_EX | LOCK_NB);
        ::close(other);
        QCOMPARE(locked, -1);

        control.setPortOpen(false);
        const int again = ::open(pty.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        QVERIFY(again >= 0);
        QCOMPARE(::flock(again, LOCK_EX | LOCK_NB), 0);
        ::close(again);
    }

    void vanishedDeviceClosesThePort_data() {
        QTest::addColumn<QString>("noticedBy");
        QTest::newRow("noticed by the event loop") << "events";
        QTest::newRow("noticed by output") << "output";
        QTest::newRow("noticed by input") << "input";
    }
    void vanishedDeviceClosesThePort() {
        QFETCH(QString, noticedBy);
        REQUIRE_PTY(pty);
        QtSerialControl control{portOneIs(pty.slavePath())};
        control.setPortOpen(true);
        auto* port = control.findChild<QSerialPort*>();
        QVERIFY(port);
        QSignalSpy errors(port, &QSerialPort::errorOccurred);
        QSignalSpy lost(&control, &QtSerialControl::portLost);

        pty.closeMaster();
        if (noticedBy == "output") {
            QVERIFY_THROWS_EXCEPTION(PortError, control.output(kReadRequest));
        } else if (noticedBy == "input") {
            QVERIFY_THROWS_EXCEPTION(PortError, (void)control.input());
        }
        QTRY_VERIFY_WITH_TIMEOUT(!control.portOpen(), kBoundMs);
        QCOMPARE(lost.count(), 1);

        // Run the event loop for a while: a port left open on the vanished
        // device would report errors on every turn, by the hundred thousand.
        QVERIFY(!errors.wait(300));
        QVERIFY2(errors.count() < 10, qPrintable(QString::number(errors.count())));
        QCOMPARE(lost.count(), 1);

        QVERIFY_THROWS_EXCEPTION(PortError, control.output(kReadRequest));
        QVERIFY_THROWS_EXCEPTION(PortError, (void)control.input());
    }

    void openWithoutADeviceThrows() {
        PortMap map{[] { return std::vector<PresentDevice>{}; }};
        map.addOverride({1, "/dev/pts/999999"});
        QtSerialControl control{map};
        control.setCommPort(2);
        QVERIFY_THROWS_EXCEPTION(PortError, control.setPortOpen(true));
        QVERIFY(!control.portOpen());
        // Mapped, but the device is not there.
        control.setCommPort(1);
        QVERIFY_THROWS_EXCEPTION(PortError, control.setPortOpen(true));
        QVERIFY(!control.portOpen());
    }

    void openPortRefusesChanges() {
        REQUIRE_PTY(pty);
        QtSerialControl control{portOneIs(pty.slavePath())};
        QVERIFY_THROWS_EXCEPTION(PortError, control.setCommPort(0));
        control.setPortOpen(true);
        QVERIFY_THROWS_EXCEPTION(PortError, control.setCommPort(2));
        QVERIFY_THROWS_EXCEPTION(PortError, control.setPortOpen(true));
        QCOMPARE(control.commPort(), 1);
        QVERIFY(control.portOpen());
        control.output("x");
        QCOMPARE(pty.receive(1), std::string("x"));
    }

    void closeAndReopen() {
        REQUIRE_PTY(pty);
        QtSerialControl control{portOneIs(pty.slavePath())};
        QSignalSpy lost(&control, &QtSerialControl::portLost);
        control.setPortOpen(false);
        QVERIFY_THROWS_EXCEPTION(PortError, control.output("x"));
        QVERIFY_THROWS_EXCEPTION(PortError, (void)control.input());

        control.setPortOpen(true);
        control.setPortOpen(false);
        control.setPortOpen(false);
        QVERIFY(!control.portOpen());
        QVERIFY_THROWS_EXCEPTION(PortError, control.output("x"));
        QVERIFY_THROWS_EXCEPTION(PortError, (void)control.input());
        QCOMPARE(lost.count(), 0);

        control.setPortOpen(true);
        control.output(kReadRequestTwo);
        QCOMPARE(pty.receive(5), kReadRequestTwo);
        QVERIFY(pty.send("\x03"));
        std::string got;
        QTRY_VERIFY_WITH_TIMEOUT(gathered(control, got, 1), kBoundMs);
        QCOMPARE(got, std::string("\x03"));
    }

    void lineFormatOnTheDevice_data() {
        QTest::addColumn<std::string>("settings");
        QTest::addColumn<bool>("whileOpen");
        QTest::addColumn<int>("speed");
        QTest::newRow("9600") << std::string(" 9600,N,8,1") << false << int(B9600);
        QTest::newRow("19200") << std::string(" 19200,N,8,1") << false << int(B19200);
        QTest::newRow("115200") << std::string(" 115200,N,8,1") << false << int(B115200);
        QTest::newRow("19200 set while open") << std::string(" 19200,N,8,1") << true << int(B19200);
    }
    void lineFormatOnTheDevice() {
        QFETCH(std::string, settings);
        QFETCH(bool, whileOpen);
        QFETCH(int, speed);
        REQUIRE_PTY(pty);
        QtSerialControl control{portOneIs(pty.slavePath())};
        if (whileOpen) {
            control.setPortOpen(true);
        }
        control.setSettings(settings);
        if (!whileOpen) {
            control.setPortOpen(true);
        }
        const auto applied = deviceTermios(pty.slavePath());
        if (!applied) {
            QSKIP("the device is kept from a second reader; cannot look at its settings");
        }
        QCOMPARE(int(::cfgetospeed(&*applied)), speed);
        QCOMPARE(int(::cfgetispeed(&*applied)), speed);
        QCOMPARE(applied->c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(applied->c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
        QCOMPARE(applied->c_iflag & (IXON | IXOFF), tcflag_t(0));
    }
};

QTEST_GUILESS_MAIN(TestSerialPty)
#include "test_serial_pty.moc"
