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
    // something happens (port data, a user event, a timer) or the deadline
    // comes, then handles what is pending. Past the deadline it only handles
    // what is pending. Either way it returns without spinning.
    virtual void pumpUntil(Clock::time_point deadline) = 0;

    // Brackets one exchange's wait; waits may nest. The interval is how far
    // apart the wait's polls are spaced once they are due.
    virtual void beginWait(std::chrono::microseconds pollSpacing) = 0;
    virtual void endWait() = 0;
};

// The pump of the running program, on Qt's event loop. A poll whose deadline
// is further off than a timer tick sleeps until that deadline on one
// single-shot timer, which is kept for the polls after it unless it would
// wake them more than a millisecond late; polls due closer together than a
// tick share a ticker that wakes the loop every millisecond (or at the polls'
// spacing, when that is wider), and each wake runs every poll whose time has
// come. Port data and user events wake a poll at once either way, so a timer
// only decides when a poll that nothing woke gets its turn.
class QtEventPump : public EventPump {
public:
    QtEventPump();
    void pumpOnce() override;
    void pumpUntil(Clock::time_point deadline) override;
    void beginWait(std::chrono::microseconds pollSpacing) override;
    void endWait() override;

private:
    QTimer m_timer;
    std::chrono::milliseconds m_tick{1};
    Clock::time_point m_wakeAt; // when the single-shot timer is due, while it runs
    int m_openWaits = 0;
};

} // namespace rio::exchange
