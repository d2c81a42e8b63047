#pragma once
// A single-shot timer for a moment on the steady clock, however far ahead.
// QTimer counts in int milliseconds, about 24.8 days at most: a longer
// interval wraps round to a short one or is refused as negative. So the wait
// is taken in steps of at most kLongestStep, and each wake compares the clock
// with the moment before timeout() is emitted.

#include <QObject>
#include <QTimer>

#include <chrono>

namespace rio::poll {

class DueTimer : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kLongestStep = std::chrono::hours(24);

    explicit DueTimer(QObject* parent = nullptr);

    // A moment already past fires from the event loop, at once.
    void start(std::chrono::steady_clock::time_point due);
    void stop() { m_timer.stop(); }

signals:
    void timeout();

private:
    void wake();
    void arm(std::chrono::steady_clock::time_point now);

    QTimer m_timer;
    std::chrono::steady_clock::time_point m_due;
};

} // namespace rio::poll
