// The stop requests of a Windows console; see stop_signals.h.
#include "poll/stop_signals.h"

#include <atomic>
#include <system_error>

#include <windows.h>

namespace rio::poll {

namespace {

// Time the handler holds a closing console open for the teardown: Windows
// ends the process about five seconds after CTRL_CLOSE_EVENT whatever the
// handler does, so the outputs must be off before then.
constexpr DWORD kCloseWaitMs = 4500;

// The first control event that came, 0 before one; all the handler writes.
std::atomic<DWORD> gEvent{0};
// Auto-reset: wakes the notifier, or waitForStop(), once per request.
HANDLE gWake = nullptr;
// Manual-reset, set once the object is gone and the program has torn down
// what it had open. Never closed: a closing console's handler may still be
// waiting on it while the process ends.
HANDLE gTornDown = nullptr;

BOOL WINAPI onControl(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT: {
        DWORD none = 0;
        // One more request than the first changes nothing: it is the stop
        // already under way.
        gEvent.compare_exchange_strong(none, type + 1);
        SetEvent(gWake);
        if (type == CTRL_CLOSE_EVENT)
            WaitForSingleObject(gTornDown, kCloseWaitMs);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

} // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    gWake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (gTornDown == nullptr)
        gTornDown = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (gWake == nullptr || gTornDown == nullptr)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "stop event");
    ResetEvent(gTornDown);
    m_notifier = std::make_unique<QWinEventNotifier>(gWake);
    connect(m_notifier.get(), &QWinEventNotifier::activated, this, &StopSignals::drain);
    SetConsoleCtrlHandler(onControl, TRUE);
}

StopSignals::~StopSignals() {
    SetConsoleCtrlHandler(onControl, FALSE);
    m_notifier.reset();
    CloseHandle(gWake);
    gWake = nullptr;
    // The object outlives the port (riopoll makes it first), so the outputs
    // are off by now and a closing console may end the process.
    SetEvent(gTornDown);
}

QString StopSignals::name() const {
    switch (m_signal - 1) {
    case CTRL_C_EVENT:
        return QStringLiteral("Ctrl+C");
    case CTRL_BREAK_EVENT:
        return QStringLiteral("Ctrl+Break");
    case CTRL_CLOSE_EVENT:
        return QStringLiteral("the console window closing");
    default:
        return {};
    }
}

bool StopSignals::waitForStop(std::chrono::milliseconds time) {
    if (!requested()) {
        WaitForSingleObject(gWake, static_cast<DWORD>(time.count()));
        drain();
    }
    return requested();
}

void StopSignals::drain() {
    const bool first = m_signal == 0;
    if (m_signal == 0)
        m_signal = static_cast<int>(gEvent.load());
    if (first && m_signal != 0)
        emit stopRequested();
}

} // namespace rio::poll
