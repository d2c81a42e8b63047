// The serial control on a real device; see qt_serial_control.h.
#include "serial/qt_serial_control.h"

#include "serial/log.h"
#include "serial/open_failure.h"
#include "serial/settings_text.h"

#include <QDeadlineTimer>

#include <chrono>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <sys/file.h>
#endif

namespace rio::serial {

namespace {

using namespace std::chrono_literals;

// Time allowed for handing bytes to the device beyond their time on the line;
// only a stuck device uses it up.
constexpr std::chrono::milliseconds kWriteMargin = 1s;

// Rounds of reading in one input() call: enough to empty the system's buffer
// several times over, few enough that a flood cannot hold the caller.
constexpr int kMaxReadRounds = 16;

// What Qt may hold of received bytes nobody has taken yet. Qt reads the
// device whenever the event loop runs, and by default without limit, so a
// device that keeps talking while the panel is stopped (nobody takes input
// then) would fill memory without end; with the buffer full Qt leaves the
// rest in the system, which holds only a few kilobytes and makes the sender
// wait. A buffer this small also keeps each poll's read short under a flood.
// Many times a whole reply.
constexpr qint64 kReadBuffer = 4096;

// Qt reports a device that went away (the far end of a pseudo-terminal closed,
// a USB adapter pulled) as one of these and otherwise leaves the port open,
// reporting again on every turn of the event loop.
[[nodiscard]] bool meansDeviceLost(QSerialPort::SerialPortError error) {
    return error == QSerialPort::ReadError || error == QSerialPort::ResourceError ||
           error == QSerialPort::UnknownError;
}

// What Qt's failure to open says about the cause; the device is asked for
// the rest.
[[nodiscard]] OpenCause causeOfOpenError(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return OpenCause::NoDevice;
    case QSerialPort::PermissionError:
        return OpenCause::PermissionDenied;
    default:
        return OpenCause::Other;
    }
}

#ifdef Q_OS_UNIX
// poll() on the open device without waiting; 0 when it fails.
[[nodiscard]] short pollNow(int fd, short events) {
    pollfd entry{fd, events, 0};
    return ::poll(&entry, 1, 0) == 1 ? entry.revents : 0;
}
#endif

} // namespace

QtSerialControl::QtSerialControl(PortMap ports, QObject* parent)
    : QObject(parent), m_ports(std::move(ports)), m_port(this), m_settings(kDefaultSettings),
      m_speed(speedFromSettings(kDefaultSettings)) {
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialControl::onError);
    m_port.setReadBufferSize(kReadBuffer);
}

QtSerialControl::~QtSerialControl() {
    if (m_port.isOpen()) {
        m_port.close();
    }
}

void QtSerialControl::setCommPort(int number) {
    if (number < 1) {
        throw PortError("port number " + std::to_string(number) + " refused: numbers start at 1");
    }
    if (m_port.isOpen()) {
        throw PortError("cannot change the port number while " + portLabel().toStdString() +
                        " is open");
    }
    m_number = number;
    m_path.clear();
}

int QtSerialControl::commPort() const {
    return m_number;
}

void QtSerialControl::setSettings(std::string_view settings) {
    const std::int32_t speed = speedFromSettings(settings);
    if (m_port.isOpen() && !m_port.setBaudRate(speed)) {
        const QString why = m_port.errorString();
        m_port.setBaudRate(m_speed);
        fail(portLabel().toStdString() + " refuses speed " + std::to_string(speed) + ": " +
             why.toStdString());
    }
    m_settings = settings;
    m_speed = speed;
}

std::string QtSerialControl::settings() const {
    return m_settings;
}

void QtSerialControl::setPortOpen(bool open) {
    if (!open) {
        if (m_port.isOpen()) {
            m_port.close();
            qCDebug(lcSerial).noquote() << "closed" << portLabel();
        }
        return;
    }
    if (m_port.isOpen()) {
        throw PortError(portLabel().toStdString() + " is already open");
    }
    const auto path = m_ports.devicePath(m_number);
    m_path = path.value_or(QString());
    if (!path) {
        fail(portLabel().toStdString() + " has no device");
    }
    m_port.setPortName(*path);
    // Qt applies these while opening and fails the open if the device refuses
    // one. The speed opens as one every device takes and is set once the
    // device is open, so that a refused speed is told apart from a device that
    // will not open. The modem-control lines are left alone: pseudo-terminals
    // have none.
    m_port.setBaudRate(QSerialPort::Baud9600);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        failOpen(probeOpenFailure(*path, causeOfOpenError(m_port.error()), m_speed,
                                  m_port.errorString().toStdString()));
    }
    if (const int error = lockDevice(); error != 0) {
        m_port.close();
        failOpen(probeOpenFailure(*path, OpenCause::InUse, m_speed, systemText(error)));
    }
    if (!m_port.setBaudRate(m_speed)) {
        const std::string why = m_port.errorString().toStdString();
        m_port.close();
        failOpen(probeOpenFailure(*path, OpenCause::SpeedRefused, m_speed, why));
    }
    // A freshly opened port starts empty: bytes that reached the device while
    // nobody had it open (a reply that came too late, line noise) belong to
    // no exchange of this session.
    m_port.clear(QSerialPort::AllDirections);
    m_port.clearError();
    qCDebug(lcSerial).noquote() << "opened" << portLabel() << "at" << m_speed << "bit/s, 8N1";
}

void QtSerialControl::failOpen(const OpenFacts& facts) const {
    fail("port " + std::to_string(m_number) + ": " + openFailureReason(facts));
}

void QtSerialControl::fail(const std::string& message) const {
    qCWarning(lcSerial).noquote() << QString::fromStdString(message);
    throw PortError(message);
}

bool QtSerialControl::portOpen() const {
    return m_port.isOpen();
}

void QtSerialControl::output(std::string_view bytes) {
    requireOpen();
    if (bytes.empty()) {
        return;
    }
    const auto size = static_cast<qint64>(bytes.size());
    if (m_port.write(bytes.data(), size) != size) {
        const QString why = m_port.errorString();
        m_port.clear(QSerialPort::Output);
        fail("write to " + portLabel().toStdString() + " failed: " + why.toStdString());
    }

    // QSerialPort would otherwise hand the bytes over on a later turn of the
    // event loop; the caller times the answer from now.
    const auto lineTime = std::chrono::milliseconds(size * 10 * 1000 / m_speed);
    const QDeadlineTimer deadline(lineTime + kWriteMargin);
    m_port.flush();
    while (m_port.isOpen() && m_port.bytesToWrite() > 0 && !deadline.hasExpired()) {
        if (!m_port.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) {
            break;
        }
    }
    if (!m_port.isOpen()) {
        fail("write to " + portLabel().toStdString() + " failed: the device is gone");
    }
    if (m_port.bytesToWrite() > 0) {
        const QString why =
            m_port.error() == QSerialPort::NoError || m_port.error() == QSerialPort::TimeoutError
                ? QStringLiteral("the device did not take all bytes in time")
                : m_port.errorString();
        m_port.clear(QSerialPort::Output);
        m_port.clearError();
        fail("write to " + portLabel().toStdString() + " failed: " + why.toStdString());
    }
}

std::string QtSerialControl::input() {
    requireOpen();
#ifdef Q_OS_UNIX
    // Qt moves bytes from the system only when the event loop reports them;
    // the caller may poll without running it, so read whatever is waiting.
    for (int round = 0; round < kMaxReadRounds && m_port.isOpen(); ++round) {
        if ((pollNow(static_cast<int>(m_port.handle()), POLLIN) & POLLIN) == 0 ||
            !m_port.waitForReadyRead(0)) {
            break;
        }
    }
#else
    if (!m_port.waitForReadyRead(0) && m_port.error() == QSerialPort::TimeoutError) {
        m_port.clearError();
    }
#endif
    if (!m_port.isOpen()) {
        fail("read from " + portLabel().toStdString() + " failed: the device is gone");
    }
    const QByteArray bytes = m_port.readAll();
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

void QtSerialControl::discardInput() {
    requireOpen();
    m_port.clear(QSerialPort::Input);
    if (!m_port.isOpen()) {
        fail("read from " + portLabel().toStdString() + " failed: the device is gone");
    }
}

QString QtSerialControl::portLabel() const {
    return m_path.isEmpty() ? QStringLiteral("port %1").arg(m_number)
                            : QStringLiteral("port %1 (%2)").arg(m_number).arg(m_path);
}

void QtSerialControl::requireOpen() const {
    if (!m_port.isOpen()) {
        throw PortError(portLabel().toStdString() + " is not open");
    }
}

void QtSerialControl::onError(QSerialPort::SerialPortError error) {
    if (m_port.isOpen() && meansDeviceLost(error)) {
        loseDevice(m_port.errorString());
    }
}

void QtSerialControl::loseDevice(const QString& reason) {
    const QString label = portLabel();
    m_port.close();
    qCWarning(lcSerial).noquote() << label << "closed:" << reason;
    emit portLost(label + QStringLiteral(" closed: ") + reason);
}

int QtSerialControl::lockDevice() {
#ifdef Q_OS_UNIX
    // Qt's lock file keeps out other Qt programs, and the exclusive mode it
    // sets keeps out other users but not root. A lock on the device itself
    // also stops any program that takes one, whatever it is written in.
    return ::flock(static_cast<int>(m_port.handle()), LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
#else
    // Windows opens serial devices for one user only.
    return 0;
#endif
}

} // namespace rio::serial
