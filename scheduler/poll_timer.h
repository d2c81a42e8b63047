#pragma once
// The poll timer's tick: each tick serves one board, a read exchange then a
// write exchange, the boards in turn: 1, 2, 3, 1, ...

#include "exchange/exchange.h"

#include <cstdint>
#include <vector>

namespace rio::scheduler {

class PollTimer {
public:
    // One to three boards, served in the order given.
    PollTimer(exchange::Line& line, std::vector<exchange::Board> boards);

    // One tick of the poll timer: serves the board whose turn it is, then
    // moves the turn on. Ticks that fall due while an exchange waits run
    // nested inside its pump: their exchanges find the line busy and return at once. Only
    // the outermost tick moves the turn on, so a board whose exchanges take
    // longer than a tick — a slow line, a slow or silent board — never makes
    // the turn skip the boards after it.
    void tick();

    // The index of the board whose turn it is; kept across ticks and across
    // START and STOP, so polling resumes with the board whose turn came next.
    [[nodiscard]] std::int16_t turn() const { return m_turn; }
    void setTurn(std::int16_t turn) { m_turn = turn; }

    [[nodiscard]] int nesting() const { return m_depth; }
    // The deepest nesting of ticks seen so far.
    [[nodiscard]] int deepestNesting() const { return m_deepest; }

private:
    void serve(std::size_t index);

    exchange::Line& m_line;
    std::vector<exchange::Board> m_boards;
    std::int16_t m_turn = 0;
    int m_depth = 0;
    int m_deepest = 0;
};

} // namespace rio::scheduler
