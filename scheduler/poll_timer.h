#pragma once
// The poll timer's tick: each tick serves one board, a read exchange then a
// write exchange, in the order 1, 2, 3, 1, ...

#include "exchange.h"

#include <array>
#include <cstdint>

namespace rio::scheduler {

class PollTimer {
public:
    PollTimer(const exchange::Line& line, const std::array<exchange::Board, 3>& boards);

    // One tick. Ticks that fall due while an exchange waits run nested inside
    // its pump: their exchanges find the line busy and return at once. Only
    // the outermost tick moves the turn on, so a board whose exchanges take
    // longer than a tick — a slow line, a slow or silent board — never makes
    // the turn skip the boards after it.
    void Timer1_Timer();

    // 0, 1, 2 select boards 1, 2, 3; kept across ticks and across START and
    // STOP, so polling resumes with the board whose turn came next.
    std::int16_t BoardTurn = 0;

    [[nodiscard]] int nesting() const { return m_depth; }
    // The deepest nesting of ticks seen so far.
    [[nodiscard]] int deepestNesting() const { return m_deepest; }

private:
    void serve(std::size_t index);

    exchange::Line m_line;
    std::array<exchange::Board, 3> m_boards;
    int m_depth = 0;
    int m_deepest = 0;
};

} // namespace rio::scheduler
