#pragma once
// One exchange with a board: claim the line through the busy flags, send the
// request whole, then poll the port until the reply's ETX arrives or the poll
// limit is reached, pumping user events on every poll so the window stays
// live. The read and write exchanges add what they do with the reply.

#include "exchange_board.h"
#include "frame_event.h"
#include "pump.h"
#include "serial_control.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace rio::exchange {

// A silent board is given up after this many reads of the port.
inline constexpr int kPollLimit = 5000;

// The most bytes of one reply kept while collecting it. Acceptance looks at
// positions 1 to 21 and at whether a read reply is longer than 21 bytes, so
// any cut at 22 bytes or more judges exactly as the whole; the cut only keeps
// a line that floods the panel from growing one string for the whole wait.
inline constexpr std::size_t kReplyKept = 4096;

// The line the exchanges share: the port, the two busy flags (1 while a read
// or write is in flight), the line speed the port was set to, the pump every
// wait runs on, and whoever listens to the frames (nobody when null).
struct Line {
    serial::SerialControl* port = nullptr;
    std::int16_t* readBusy = nullptr;
    std::int16_t* writeBusy = nullptr;
    const std::int32_t* speed = nullptr; // bit/s; the speed last taken from the speed box
    EventPump* pump = nullptr;
    FrameObserver* observer = nullptr;
};

// How long the 5000 polls of one wait are spread over. Both exchanges move 26
// bytes of line time (5 + 21 for a read, 13 + 13 for a write), 10 bits each.
// The wait lasts twice that plus 150 ms, so a board that starts its reply up to
// 150 ms after the request has left is never given up on:
//     wait = 2 x 26 x 10 / speed + 150 ms
// which is 583 ms at 1200 bit/s, 204 ms at 9600 and 155 ms at 115200. A speed
// that is not positive is taken as 9600.
//
// No reply can be whole before the request and the reply have both crossed
// the line, so the polls are not spread over the wait's first 26 x 10 / speed
// (217 ms at 1200 bit/s, 27 ms at 9600, 2.3 ms at 115200): poll k of 5000 is
// due at
//     26 x 10 / speed + (wait - 26 x 10 / speed) x k / 5000
// after the request went out. Port data and user events still wake a poll at
// once, whenever they come, so an early reply byte or a click is never kept
// waiting; the quiet stretch only spares the polls that nothing woke.
[[nodiscard]] std::chrono::microseconds waitBudget(std::int32_t speed);

// The line time of one exchange, 26 bytes of 10 bits: the wait's quiet stretch.
[[nodiscard]] std::chrono::microseconds exchangeLineTime(std::int32_t speed);

enum class Outcome { Complete, TimedOut };

// Collects the reply into `reply` (emptied first): polls the port up to 5000
// times, each poll pumping events once, until the collected bytes hold ETX.
// Bytes past the first kReplyKept are read and dropped.
// Port failures are thrown as serial::PortError.
[[nodiscard]] Outcome collectReply(const Line& line, std::string& reply);

// The read exchange of one board: inputs, analog values, frames and status.
void readBoard(const Line& line, const Board& board);

// The write exchange of one board: the eight requested outputs go out.
void writeBoard(const Line& line, const Board& board);

} // namespace rio::exchange
