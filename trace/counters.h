#pragma once
// What the exchanges did, per board, since the port was last opened: counts
// of exchanges started and of how each ended, response times over the last
// 1000 replies, and the last failure. Fed by CountersObserver on the line;
// read by the status tooltips, the line monitor and the console poller's
// summary.

#include "exchange/frame_event.h"

#include <QString>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace rio::trace {

inline constexpr int kBoardCount = 3;
// Response times are taken over this many of the latest replies.
inline constexpr std::size_t kResponseWindow = 1000;
// A failure's reply is kept up to this many bytes for its description.
inline constexpr std::size_t kFailureBytesKept = 64;

struct BoardCounts {
    // Started: the exchange got past the line's busy check, whether or not its
    // request reached the port. Every started exchange ends in exactly one of
    // the counts below, unless the program left during its wait.
    std::uint64_t readsStarted = 0;
    std::uint64_t writesStarted = 0;
    std::uint64_t accepted = 0;
    // The frame's acceptance tests, the first that failed.
    std::uint64_t rejectedLength = 0;
    std::uint64_t rejectedAck = 0;
    std::uint64_t rejectedCommand = 0;
    std::uint64_t rejectedEtx = 0;
    // The read reply passed every frame test; an analog field is not a number.
    std::uint64_t rejectedAnalog = 0;
    std::uint64_t noAnswer = 0;
    std::uint64_t portFailures = 0;
};

// Over the replies (with ETX) of the latest kResponseWindow exchanges, from
// the request handed to the port to the ETX read. Percentiles by nearest
// rank: the median is the ceil(n/2)-th smallest, the 95th percentile the
// ceil(0.95 n)-th.
struct ResponseTimes {
    std::size_t samples = 0;
    std::chrono::microseconds last{0};
    std::chrono::microseconds median{0};
    std::chrono::microseconds p95{0};
    std::chrono::microseconds max{0};
};

struct LastFailure {
    std::chrono::system_clock::time_point time; // when the wait ended
    exchange::ExchangeKind kind = exchange::ExchangeKind::Read;
    exchange::FrameOutcome outcome = exchange::FrameOutcome::None;
    std::string bytes; // the reply as collected, its first kFailureBytesKept bytes
    bool bytesCut = false;
    std::string reason; // a port error in the port's words
};

class LineCounters {
public:
    // Board numbers outside 1..kBoardCount are not counted.
    void count(const exchange::FrameEvent& event);
    // Back to nothing counted; the port has been (re)opened.
    void reset();

    // Board 1..kBoardCount; any other number reads as nothing counted.
    [[nodiscard]] const BoardCounts& counts(int board) const;
    // Nothing until the board's first reply.
    [[nodiscard]] std::optional<ResponseTimes> responseTimes(int board) const;
    [[nodiscard]] const std::optional<LastFailure>& lastFailure(int board) const;
    // "rejected:etx <ACK>01R...", "port-error: Input/output error",
    // "no-answer": the outcome word, the port's reason, the reply readable.
    // Empty when nothing failed.
    [[nodiscard]] std::string lastFailureText(int board) const;

private:
    struct Board {
        BoardCounts counts;
        std::array<std::chrono::microseconds, kResponseWindow> responses{};
        std::size_t responseCount = 0; // up to kResponseWindow
        std::size_t nextResponse = 0;  // the slot the next reply takes
        // A TX was seen and its RX not yet: the RX does not start it again.
        bool readInFlight = false;
        bool writeInFlight = false;
        std::optional<LastFailure> lastFailure;
    };
    [[nodiscard]] const Board* board(int number) const;

    std::array<Board, kBoardCount> m_boards;
};

// Feeds the counters from the line.
class CountersObserver : public exchange::FrameObserver {
public:
    explicit CountersObserver(LineCounters& counters) : m_counters(counters) {}
    void frame(const exchange::FrameEvent& event) override { m_counters.count(event); }

private:
    LineCounters& m_counters;
};

// Several plain lines for a board's status tooltip: the counts, the response
// times and the last failure with its local time.
[[nodiscard]] QString boardTooltip(const LineCounters& counters, int board);

} // namespace rio::trace
