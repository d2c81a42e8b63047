// The serial control on a Windows COM port; see win_serial_control.h.
//
// How replies are read. The exchanges poll input() from their wait, sleeping
// in the event loop between polls on a timer that ticks every millisecond
// once the reply is due, so a read that never waits is all they need: the
// timeouts MAXDWORD/0/0 make ReadFile return at once with what the driver
// holds, and ClearCommError says how much that is. Measured under Wine 8 on a
// pseudo-terminal against riosim (no line time):
//   - read timeouts MAXDWORD/MAXDWORD/50 (wait up to 50 ms for a first byte):
//     every reply cost the full 50 ms;
//   - an interval timeout of 5 ms: 5.4 ms per round trip;
//   - overlapped WaitCommEvent(EV_RXCHAR) to wake the loop: 3.4 ms at best,
//     and Wine refuses to wait again after the first event
//     (ERROR_INVALID_PARAMETER), so it cannot be relied on;
//   - reads that never wait, polled each millisecond: median 1.4 ms.
// On Windows itself the millisecond tick bounds what polling adds to a reply
// at about 1 ms, half that on average; Wine adds its server's round trips.
#include "serial/win_serial_control.h"

#include "serial/log.h"
#include "serial/settings_text.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <chrono>
#include <vector>

namespace rio::serial {

namespace {

using namespace std::chrono_literals;

// Time allowed for handing bytes to the device beyond their time on the line;
// only a stuck device uses it up.
constexpr std::chrono::milliseconds kWriteMargin = 1s;

// Most bytes one input() call takes: many times a whole reply, few enough
// that a flood cannot hold the caller.
constexpr DWORD kMaxRead = 64 * 1024;

// The system's words for a Win32 error, on one line.
[[nodiscard]] std::string windowsErrorText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString words = length > 0 ? QString::fromWCharArray(text, static_cast<int>(length)).trimmed()
                               : QStringLiteral("error %1").arg(error);
    if (text != nullptr)
        LocalFree(text);
    words.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return words.toStdString();
}

// What a failed CreateFile says about the cause. Windows opens a COM port for
// one handle only: a port another program has open is refused as access
// denied.
[[nodiscard]] OpenCause causeOfOpenError(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
        return OpenCause::NoDevice;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return OpenCause::InUse;
    default:
        return OpenCause::Other;
    }
}

// "COM3" as CreateFile takes it: ports from COM10 up exist only in the
// device namespace, and the prefix does no harm below that.
[[nodiscard]] std::wstring deviceName(const QString& path) {
    const QString name = path.startsWith(QLatin1String("\\\\.\\")) ? path : "\\\\.\\" + path;
    return name.toStdWString();
}

// 8 data bits, no parity, 1 stop bit, no flow control, binary. The
// modem-control lines keep what the driver has, unless they were set to
// handshake.
void applyLineSettings(DCB& dcb, std::int32_t speed) {
    dcb.BaudRate = static_cast<DWORD>(speed);
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE)
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
    if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_TOGGLE)
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
}

// Finishes an overlapped ReadFile or WriteFile that did not complete at once,
// waiting at most `wait`; false with the error when it failed or ran out.
[[nodiscard]] bool finish(HANDLE handle, OVERLAPPED& overlapped, BOOL started, DWORD wait,
                          DWORD& done, DWORD& error) {
    error = 0;
    if (!started) {
        error = GetLastError();
        if (error != ERROR_IO_PENDING)
            return false;
        if (WaitForSingleObject(overlapped.hEvent, wait) != WAIT_OBJECT_0) {
            CancelIo(handle);
            GetOverlappedResult(handle, &overlapped, &done, TRUE);
            error = WAIT_TIMEOUT;
            return false;
        }
    }
    if (!GetOverlappedResult(handle, &overlapped, &done, FALSE)) {
        error = GetLastError();
        return false;
    }
    error = 0;
    return true;
}

// An event for one overlapped call, closed when it goes out of scope.
struct CallEvent {
    OVERLAPPED overlapped{};
    CallEvent() { overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~CallEvent() {
        if (overlapped.hEvent != nullptr)
            CloseHandle(overlapped.hEvent);
    }
    CallEvent(const CallEvent&) = delete;
    CallEvent& operator=(const CallEvent&) = delete;
};

} // namespace

WinSerialControl::WinSerialControl(PortMap ports, QObject* parent)
    : QObject(parent), m_ports(std::move(ports)), m_settings(kDefaultSettings),
      m_speed(speedFromSettings(kDefaultSettings)) {}

WinSerialControl::~WinSerialControl() {
    closeHandle();
}

void WinSerialControl::setCommPort(int number) {
    if (number < 1) {
        throw PortError("port number " + std::to_string(number) + " refused: numbers start at 1");
    }
    if (portOpen()) {
        throw PortError("cannot change the port number while " + portLabel().toStdString() +
                        " is open");
    }
    m_number = number;
    m_path.clear();
}

int WinSerialControl::commPort() const {
    return m_number;
}

void WinSerialControl::setSettings(std::string_view settings) {
    const std::int32_t speed = speedFromSettings(settings);
    if (portOpen()) {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(m_handle, &dcb)) {
            loseDevice("setting the speed of", GetLastError());
        }
        const DCB before = dcb;
        dcb.BaudRate = static_cast<DWORD>(speed);
        if (!SetCommState(m_handle, &dcb)) {
            const std::string why = windowsErrorText(GetLastError());
            DCB restore = before;
            SetCommState(m_handle, &restore);
            fail(portLabel().toStdString() + " refuses speed " + std::to_string(speed) + ": " +
                 why);
        }
    }
    m_settings = settings;
    m_speed = speed;
}

std::string WinSerialControl::settings() const {
    return m_settings;
}

void WinSerialControl::setPortOpen(bool open) {
    if (!open) {
        if (portOpen()) {
            closeHandle();
            qCDebug(lcSerial).noquote() << "closed" << portLabel();
        }
        return;
    }
    if (portOpen()) {
        throw PortError(portLabel().toStdString() + " is already open");
    }
    const auto path = m_ports.devicePath(m_number);
    m_path = path.value_or(QString());
    if (!path) {
        fail(portLabel().toStdString() + " has no device");
    }
    // No sharing: the port is this program's alone while it is open.
    m_handle = CreateFileW(deviceName(*path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (m_handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        failOpen(
            probeOpenFailure(*path, causeOfOpenError(error), m_speed, windowsErrorText(error)));
    }
    const auto refuse = [this, &path](OpenCause cause) {
        const DWORD error = GetLastError();
        closeHandle();
        failOpen(probeOpenFailure(*path, cause, m_speed, windowsErrorText(error)));
    };
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(m_handle, &dcb)) {
        refuse(OpenCause::Other);
    }
    applyLineSettings(dcb, m_speed);
    if (!SetCommState(m_handle, &dcb)) {
        refuse(OpenCause::SpeedRefused);
    }
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    if (!SetCommTimeouts(m_handle, &timeouts)) {
        refuse(OpenCause::Other);
    }
    // A freshly opened port starts empty: bytes that reached the device while
    // nobody had it open (a reply that came too late, line noise) belong to
    // no exchange of this session.
    PurgeComm(m_handle, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
    DWORD errors = 0;
    ClearCommError(m_handle, &errors, nullptr);

    qCDebug(lcSerial).noquote() << "opened" << portLabel() << "at" << m_speed << "bit/s, 8N1";
}

void WinSerialControl::closeHandle() {
    if (m_handle != INVALID_HANDLE_VALUE) {
        CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }
}

void WinSerialControl::failOpen(const OpenFacts& facts) const {
    fail("port " + std::to_string(m_number) + ": " + openFailureReason(facts));
}

void WinSerialControl::fail(const std::string& message) const {
    qCWarning(lcSerial).noquote() << QString::fromStdString(message);
    throw PortError(message);
}

bool WinSerialControl::portOpen() const {
    return m_handle != INVALID_HANDLE_VALUE;
}

void WinSerialControl::output(std::string_view bytes) {
    requireOpen();
    if (bytes.empty()) {
        return;
    }
    const auto size = static_cast<DWORD>(bytes.size());
    const auto lineTime = std::chrono::milliseconds(std::int64_t(size) * 10 * 1000 / m_speed);
    const auto allowed = static_cast<DWORD>((lineTime + kWriteMargin).count());
    CallEvent call;
    DWORD written = 0;
    DWORD error = 0;
    const BOOL started = WriteFile(m_handle, bytes.data(), size, &written, &call.overlapped);
    if (!finish(m_handle, call.overlapped, started, allowed, written, error)) {
        if (error == WAIT_TIMEOUT) {
            PurgeComm(m_handle, PURGE_TXABORT | PURGE_TXCLEAR);
            fail("write to " + portLabel().toStdString() +
                 " failed: the device did not take all bytes in time");
        }
        loseDevice("write to", error);
    }
    if (written != size) {
        PurgeComm(m_handle, PURGE_TXABORT | PURGE_TXCLEAR);
        fail("write to " + portLabel().toStdString() +
             " failed: the device did not take all bytes in time");
    }
}

std::string WinSerialControl::input() {
    requireOpen();
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(m_handle, &errors, &status)) {
        loseDevice("read from", GetLastError());
    }
    if ((errors & (CE_FRAME | CE_OVERRUN | CE_RXOVER | CE_RXPARITY | CE_BREAK)) != 0) {
        // The bytes around it come all the same; the exchange judges them.
        qCWarning(lcSerial).noquote() << portLabel() << "line error:"
                                      << ((errors & CE_BREAK) != 0      ? "break"
                                          : (errors & CE_FRAME) != 0    ? "framing"
                                          : (errors & CE_RXPARITY) != 0 ? "parity"
                                                                        : "overrun");
    }
    const DWORD queued = std::min(status.cbInQue, kMaxRead);
    if (queued == 0) {
        return {};
    }
    std::string bytes(queued, '\0');
    CallEvent call;
    DWORD read = 0;
    DWORD error = 0;
    const BOOL started = ReadFile(m_handle, bytes.data(), queued, &read, &call.overlapped);
    // The timeouts make the read return at once; the wait only covers the
    // driver's completing it.
    if (!finish(m_handle, call.overlapped, started, INFINITE, read, error)) {
        loseDevice("read from", error);
    }
    bytes.resize(read);
    return bytes;
}

void WinSerialControl::discardInput() {
    requireOpen();
    if (!PurgeComm(m_handle, PURGE_RXCLEAR)) {
        loseDevice("read from", GetLastError());
    }
}

QString WinSerialControl::portLabel() const {
    return m_path.isEmpty() ? QStringLiteral("port %1").arg(m_number)
                            : QStringLiteral("port %1 (%2)").arg(m_number).arg(m_path);
}

void WinSerialControl::requireOpen() const {
    if (!portOpen()) {
        throw PortError(portLabel().toStdString() + " is not open");
    }
}

void WinSerialControl::loseDevice(const std::string& doing, unsigned long error) {
    // A failing read, write or status call on an open port means the device
    // went away (ERROR_BAD_COMMAND, ERROR_OPERATION_ABORTED,
    // ERROR_DEVICE_REMOVED, ...) or broke; either way it is closed, as on
    // Linux, so that it can be opened again.
    const QString label = portLabel();
    const QString reason = QString::fromStdString(windowsErrorText(error));
    closeHandle();
    qCWarning(lcSerial).noquote() << label << "closed:" << reason;
    emit portLost(label + QStringLiteral(" closed: ") + reason);
    throw PortError(doing + " " + label.toStdString() + " failed: the device is gone (" +
                    reason.toStdString() + ")");
}

} // namespace rio::serial
