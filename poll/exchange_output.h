#pragma once
// What polling prints: a line per exchange as its wait ends (table for a
// person, jsonl for a program) or a trace row per frame (csv), and at the end
// a summary per board from the line's counters.

#include "exchange/frame_event.h"
#include "poll/poll_options.h"
#include "trace/counters.h"

#include <QString>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace rio::poll {

class ExchangePrinter : public exchange::FrameObserver {
public:
    // Writes to `out`, flushed per line so a pipe sees each exchange as it ends.
    ExchangePrinter(OutputFormat format, std::FILE* out);

    // Called once, when a write to `out` fails because nobody reads it any
    // more; nothing more is written.
    void setOnClosed(std::function<void()> closed) { m_onClosed = std::move(closed); }

    void frame(const exchange::FrameEvent& event) override;

    // The table's column heads, or the trace's header row; empty for jsonl.
    [[nodiscard]] std::string header() const;
    // The exchange as one line for the format, line end included; empty for
    // a TX frame outside csv.
    [[nodiscard]] std::string line(const exchange::FrameEvent& event) const;

private:
    void put(const std::string& text);

    OutputFormat m_format;
    std::FILE* m_out;
    bool m_headerDone = false;
    bool m_closed = false;
    std::function<void()> m_onClosed;
};

// "board 1 (01): 20 exchanges, 19 accepted, 1 rejected, 0 no answer; response
// median 27.1 ms, p95 27.9 ms, max 28.3 ms", and the last failure when there
// was one (with a port error's reason), one line per board.
[[nodiscard]] QString pollSummary(const trace::LineCounters& counters,
                                  const std::vector<protocol::BoardAddr>& boards);

// True when every exchange that started on any board was accepted.
[[nodiscard]] bool allAccepted(const trace::LineCounters& counters, std::size_t boards);

} // namespace rio::poll
