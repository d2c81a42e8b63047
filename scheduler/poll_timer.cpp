#include "scheduler/poll_timer.h"

#include <algorithm>
#include <cassert>

namespace rio::scheduler {

PollTimer::PollTimer(exchange::Line& line, std::vector<exchange::Board> boards)
    : m_line(line), m_boards(std::move(boards)) {
    assert(!m_boards.empty() && m_boards.size() <= 3);
}

void PollTimer::serve(std::size_t index) {
    exchange::readBoard(m_line, m_boards[index]);
    exchange::writeBoard(m_line, m_boards[index]);
}

void PollTimer::tick() {
    struct Depth {
        int& depth;
        explicit Depth(int& d) : depth(d) { ++depth; }
        ~Depth() { --depth; }
    } depth(m_depth);
    m_deepest = std::max(m_deepest, m_depth);

    // Each test reads the turn afresh: a tick handled during the first
    // board's exchanges sees the same turn, and serves nothing while the line
    // is busy.
    for (std::size_t i = 0; i < m_boards.size(); ++i)
        if (m_turn == std::int16_t(i))
            serve(i);

    if (m_depth == 1) {
        m_turn = static_cast<std::int16_t>(m_turn + 1);
        if (m_turn >= std::int16_t(m_boards.size()))
            m_turn = 0;
    }
}

} // namespace rio::scheduler
