#include "poll/poller.h"

namespace rio::poll {

namespace {

using namespace std::chrono;

} // namespace

Poller::Poller(exchange::Line& line, const PollSettings& settings, QObject* parent)
    : QObject(parent), m_line(line), m_settings(settings) {
    std::vector<exchange::Board> boards;
    for (std::size_t i = 0; i < m_settings.boards.size(); ++i) {
        m_displays.push_back(std::make_unique<boardtest::RecordingDisplay>());
        auto state = std::make_unique<exchange::BoardState>();
        state->address = m_settings.boards[i];
        state->outBits.fill('0');
        if (const auto found = m_settings.outputs.find(state->address);
            found != m_settings.outputs.end())
            state->outBits = found->second;
        // Numbered by position in --boards, as the output and summary name them.
        boards.push_back({int(i) + 1, m_displays.back().get(), state.get()});
        m_states.push_back(std::move(state));
    }
    m_timer = std::make_unique<scheduler::PollTimer>(m_line, std::move(boards));

    connect(&m_next, &DueTimer::timeout, this, &Poller::tick);
    connect(&m_deadline, &DueTimer::timeout, this, &Poller::stop);
}

void Poller::start() {
    const auto now = steady_clock::now();
    if (m_settings.duration)
        m_deadline.start(now + *m_settings.duration);
    m_next.start(now);
}

void Poller::stop() {
    if (m_stopping)
        return;
    m_stopping = true;
    m_next.stop();
    m_deadline.stop();
    if (m_ticking) {
        // The exchange in flight finishes; the line refuses any exchange
        // after it in this tick, as a busy line refuses a nested tick's
        // exchanges in the panel.
        m_line.refuseExchanges();
        return;
    }
    finish();
}

void Poller::tick() {
    if (m_stopping)
        return;
    const auto began = steady_clock::now();
    m_ticking = true;
    m_timer->tick();
    m_ticking = false;
    ++m_polls;
    if (m_stopping || (m_settings.count && m_polls >= *m_settings.count)) {
        finish();
        return;
    }
    // Board polls start an interval apart; one that overran its interval is
    // followed at once.
    m_next.start(began + m_settings.interval);
}

void Poller::finish() {
    if (m_finished)
        return;
    m_finished = true;
    m_stopping = true;
    emit finished();
}

} // namespace rio::poll
