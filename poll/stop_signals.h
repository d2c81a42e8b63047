#pragma once
// Ctrl+C, SIGTERM and a hang-up (SIGHUP: the terminal or ssh session closed)
// as a request to stop, seen by the event loop. The signal handler only writes
// the signal's number into a pipe; a socket notifier on the pipe's other end
// turns it into a flag and a Qt signal on the main thread, where the work is.
// An exchange's wait pumps the event loop, so the request is seen during the
// wait, and the exchange still finishes. Work that waits outside the event
// loop waits with waitForStop().
//
// On Windows Ctrl+C, Ctrl+Break and closing the console window come to a
// console control handler on a thread of their own; it sets an event that a
// notifier turns into the same flag and signal (stop_signals_win.cpp).

#include <QObject>
#ifdef Q_OS_WIN
#include <QWinEventNotifier>
#else
#include <QSocketNotifier>
#endif

#include <chrono>
#include <memory>

namespace rio::poll {

class StopSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers for SIGINT, SIGTERM and SIGHUP; one object per
    // process. A SIGHUP ignored on entry (nohup) stays ignored. Throws
    // std::system_error when the pipe cannot be made.
    explicit StopSignals(QObject* parent = nullptr);
    // Puts the default handlers back.
    ~StopSignals() override;

    [[nodiscard]] bool requested() const { return m_signal != 0; }
    // "SIGINT", "SIGTERM" or "SIGHUP", once one came.
    [[nodiscard]] QString name() const;

    // Sleeps until a stop is requested or `time` has passed, without the
    // event loop; true when a stop has been requested.
    [[nodiscard]] bool waitForStop(std::chrono::milliseconds time);

signals:
    void stopRequested();

private:
    void drain();

#ifdef Q_OS_WIN
    std::unique_ptr<QWinEventNotifier> m_notifier;
#else
    std::unique_ptr<QSocketNotifier> m_notifier;
#endif
    int m_signal = 0;
    bool m_hangUpHandled = false;
};

} // namespace rio::poll
