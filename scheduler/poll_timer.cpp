#include "poll_timer.h"

#include <algorithm>

namespace rio::scheduler {

PollTimer::PollTimer(const exchange::Line& line, const std::array<exchange::Board, 3>& boards)
    : m_line(line), m_boards(boards) {}

void PollTimer::serve(std::size_t index) {
    exchange::readBoard(m_line, m_boards[index]);
    exchange::writeBoard(m_line, m_boards[index]);
}

void PollTimer::Timer1_Timer() {
    struct Depth {
        int& depth;
        explicit Depth(int& d) : depth(d) { ++depth; }
        ~Depth() { --depth; }
    } depth(m_depth);
    m_deepest = std::max(m_deepest, m_depth);

    // Each test reads the turn afresh.
    if (BoardTurn == 0)
        serve(0);
    if (BoardTurn == 1)
        serve(1);
    if (BoardTurn == 2)
        serve(2);

    if (m_depth == 1) {
        BoardTurn = static_cast<std::int16_t>(BoardTurn + 1);
        if (BoardTurn > 2)
            BoardTurn = 0;
    }
}

} // namespace rio::scheduler
