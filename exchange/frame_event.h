#pragma once
// The one place every frame on the line is reported: the exchanges tell an
// observer what they sent and how each wait ended. Counters, the trace file,
// the line monitor and the console poller listen here; the exchanges know
// none of them, and with no observer on the line nothing is reported.

#include "protocol/frames.h"
#include "protocol/judged_reply.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace rio::exchange {

enum class ExchangeKind { Read, Write };
enum class Direction { Tx, Rx };

// How a wait ended, in the words of the trace file. A TX frame has none.
enum class FrameOutcome {
    None,        // TX: the request as handed to the port
    Ok,          // the reply passed every test (and, for a read, both analog fields are numbers)
    RejectedEtx, // no ETX at the end position
    RejectedAck, // position 1 is not ACK
    RejectedCommand, // position 4 is not the request's command letter
    RejectedLength,  // a read reply that is not exactly 21 bytes
    RejectedAnalog,  // the read reply passed, an analog field is not a number
    NoAnswer,        // no ETX within the wait; the bytes are whatever came
    PortError,       // the port failed during the exchange
};

struct FrameEvent {
    int board = 0; // 1, 2 or 3, as the status texts name it
    FrameOutcome outcome = FrameOutcome::None;
    protocol::BoardAddr address; // the two address bytes sent
    ExchangeKind kind = ExchangeKind::Read;
    Direction direction = Direction::Tx;
    // TX: the request. RX: the reply as collected (possibly partial or empty).
    std::string bytes;
    // TX: when the request was handed to the port. RX: when the wait ended.
    std::chrono::system_clock::time_point time;
    // RX with a reply: from the request handed to the port to its ETX read.
    std::optional<std::chrono::microseconds> response;
    // PortError: the port's own words for what failed.
    std::string reason;
    // RX of a reply whose wait ended with ETX: the exchange's one judgement
    // of it, whose verdict the outcome says in the trace's words. It lives
    // while the event is told; a listener that keeps the event keeps what it
    // needs of this, not the pointer. (Held by pointer so that the line
    // monitor's ring of 10,000 events stays its size.)
    const protocol::JudgedReply* judged = nullptr;
};

class FrameObserver {
public:
    virtual ~FrameObserver() = default;
    virtual void frame(const FrameEvent& event) = 0;
};

// Several listeners on one line, told in the order they were added.
class FrameFanout : public FrameObserver {
public:
    void add(FrameObserver* listener) { m_listeners.push_back(listener); }
    void remove(FrameObserver* listener) { std::erase(m_listeners, listener); }
    [[nodiscard]] bool empty() const { return m_listeners.empty(); }
    void frame(const FrameEvent& event) override {
        // A listener may add or remove listeners while it is told.
        const std::vector<FrameObserver*> listeners = m_listeners;
        for (FrameObserver* listener : listeners)
            listener->frame(event);
    }

private:
    std::vector<FrameObserver*> m_listeners;
};

// The trace file's word for an outcome: "ok", "rejected:etx", "no-answer"…;
// empty for a TX frame.
[[nodiscard]] const char* outcomeWord(FrameOutcome outcome);

// "read" or "write", as the trace file, the log and riopoll name a kind.
[[nodiscard]] const char* kindWord(ExchangeKind kind);

// The outcome that says a judged reply's verdict.
[[nodiscard]] FrameOutcome outcomeOf(protocol::Verdict verdict);

} // namespace rio::exchange
