#pragma once
// One exchange with a board: claim the line through the busy flags, send the
// request whole, then poll the port until the reply's ETX arrives or the poll
// limit is reached, pumping user events on every poll so the window stays
// live. The read and write exchanges add what they do with the reply.

#include "exchange/exchange_board.h"
#include "exchange/frame_event.h"
#include "exchange/pump.h"
#include "serial/serial_control.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace rio::exchange {

// A silent board is given up after this many reads of the port.
inline constexpr int kPollLimit = 5000;

// The most bytes of one reply kept while collecting it. Acceptance looks at
// positions 1 to 21 and at whether a read reply is longer than 21 bytes, so
// any cut at 22 bytes or more judges exactly as the whole; the cut only keeps
// a line that floods the panel from growing one string for the whole wait.
inline constexpr std::size_t kReplyKept = 4096;

// The line the exchanges share, held by whichever program drives it: the two
// busy flags, the line speed the port was set to, the pump every wait runs on
// and the listeners told about every frame. The port is the program's; the
// line goes through it for as long as the line lives.
class Line {
public:
    // With no pump given, the program's own pump on Qt's event loop.
    explicit Line(serial::SerialControl& port, std::unique_ptr<EventPump> pump = nullptr);
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    [[nodiscard]] serial::SerialControl& port() const { return m_port; }
    [[nodiscard]] EventPump& pump() const { return *m_pump; }
    // Every frame sent or received is told to these, in the order added.
    [[nodiscard]] FrameFanout& frames() { return m_frames; }

    // Line claims: 1 while a read (write) exchange is in flight. An exchange
    // finding either at 1 returns at once.
    [[nodiscard]] std::int16_t& readBusy() { return m_readBusy; }
    [[nodiscard]] std::int16_t& writeBusy() { return m_writeBusy; }
    // bit/s; the speed the port was last set to. Not positive: 9600.
    [[nodiscard]] std::int32_t& speed() { return m_speed; }

    // From now on every exchange returns at once, as on a busy line, and an
    // exchange in flight runs to its end: how a program stops polling
    // without cutting a wait short.
    void refuseExchanges() { m_refusing = true; }
    [[nodiscard]] bool refusing() const { return m_refusing; }

private:
    serial::SerialControl& m_port;
    std::unique_ptr<EventPump> m_pump;
    FrameFanout m_frames;
    std::int16_t m_readBusy = 0;
    std::int16_t m_writeBusy = 0;
    std::int32_t m_speed = 0;
    bool m_refusing = false;
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

// Collects the reply into `reply` (emptied first) until the collected bytes
// hold ETX: each poll pumps events once, then reads the port. A silent board
// is read 5000 times; the wait pumps a 5001st time before it gives up, so
// whatever fell due by the end of the wait still runs.
// Bytes past the first kReplyKept are read and dropped.
// Port failures are thrown as serial::PortError.
[[nodiscard]] Outcome collectReply(Line& line, std::string& reply);

// The read exchange of one board: inputs, analog values, frames and status.
void readBoard(Line& line, const Board& board);

// The write exchange of one board: the eight requested outputs go out.
void writeBoard(Line& line, const Board& board);

} // namespace rio::exchange
