#pragma once
// Ctrl+C and SIGTERM as a request to stop, seen by the event loop. The signal
// handler only writes the signal's number into a pipe; a socket notifier on
// the pipe's other end turns it into a flag and a Qt signal on the main
// thread, where the work is. An exchange's wait pumps the event loop, so the
// request is seen during the wait, and the exchange still finishes.

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace rio::poll {

class StopSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers for SIGINT and SIGTERM; one object per process.
    // Throws std::system_error when the pipe cannot be made.
    explicit StopSignals(QObject* parent = nullptr);
    // Puts the default handlers back.
    ~StopSignals() override;

    [[nodiscard]] bool requested() const { return m_signal != 0; }
    // "SIGINT" or "SIGTERM", once one came.
    [[nodiscard]] QString name() const;

signals:
    void stopRequested();

private:
    void drain();

    std::unique_ptr<QSocketNotifier> m_notifier;
    int m_signal = 0;
};

} // namespace rio::poll
