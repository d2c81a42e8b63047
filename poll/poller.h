#pragma once
// Polling without a window: the panel's poll timer tick (a board's read, then
// its write, the boards in turn) at an interval, for a count of board polls
// or a time, or until stopped. What each exchange did is told to the line's
// observer; this class only paces the ticks and knows when to end.

#include "boardtest/recording_display.h"
#include "exchange/exchange.h"
#include "poll/due_timer.h"
#include "poll/poll_options.h"
#include "scheduler/poll_timer.h"

#include <QObject>

#include <memory>
#include <vector>

namespace rio::poll {

class Poller : public QObject {
    Q_OBJECT
public:
    Poller(exchange::Line& line, const PollSettings& settings, QObject* parent = nullptr);

    // The first board poll runs from the event loop, at once.
    void start();
    // Ends after the exchange in flight, or at once between polls; finished()
    // follows either way.
    void stop();

    [[nodiscard]] long long boardPolls() const { return m_polls; }

signals:
    void finished();

private:
    void tick();
    void finish();

    exchange::Line& m_line;
    PollSettings m_settings;
    // Fixed in size at construction: the boards point into them.
    std::vector<std::unique_ptr<boardtest::RecordingDisplay>> m_displays;
    std::vector<std::unique_ptr<exchange::BoardState>> m_states;
    std::unique_ptr<scheduler::PollTimer> m_timer;
    DueTimer m_next;
    DueTimer m_deadline;
    long long m_polls = 0;
    bool m_ticking = false;
    bool m_stopping = false;
    bool m_finished = false;
};

} // namespace rio::poll
