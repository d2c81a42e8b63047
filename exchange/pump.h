#pragma once
// The event pump the exchanges wait with. Pumping handles every pending
// user-interface event (clicks, repaints, timer ticks, port data) and
// returns; handlers run nested inside it.

#include <QTimer>

#include <chrono>

namespace rio::exchange {

using Clock = std::chrono::steady_clock;

class EventPump {
public:
    virtual ~EventPump() = default;

    // Handles what is pending and returns at once.
    virtual void pumpOnce() = 0;

    // A waiting exchange's poll: if the deadline is still ahead, sleeps until
    // something happens (port data, a user event, a timer) or the wait's pace
    // ticker fires, then handles what is pending. Past the deadline it only
    // handles what is pending. Either way it returns without spinning.
    virtual void pumpUntil(Clock::time_point deadline) = 0;

    // Brackets one exchange's wait; waits may nest. The interval is how far
    // apart the wait's polls are spaced.
    virtual void beginWait(std::chrono::microseconds pollSpacing) = 0;
    virtual void endWait() = 0;
};

// The pump of the running program, on Qt's event loop. While any wait is
// open a ticker wakes the loop at least once a millisecond (less often only
// when polls are spaced wider), so a poll whose slot has come never sleeps on
// when nothing else happens; port data and user events wake it at once.
class QtEventPump : public EventPump {
public:
    QtEventPump();
    void pumpOnce() override;
    void pumpUntil(Clock::time_point deadline) override;
    void beginWait(std::chrono::microseconds pollSpacing) override;
    void endWait() override;

private:
    QTimer m_ticker;
    int m_openWaits = 0;
};

} // namespace rio::exchange
