#include "poll/due_timer.h"

#include <algorithm>

namespace rio::poll {

using namespace std::chrono;

DueTimer::DueTimer(QObject* parent) : QObject(parent) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &DueTimer::wake);
}

void DueTimer::start(steady_clock::time_point due) {
    m_due = due;
    arm(steady_clock::now());
}

void DueTimer::wake() {
    const auto now = steady_clock::now();
    if (now >= m_due) {
        emit timeout();
        return;
    }
    arm(now);
}

void DueTimer::arm(steady_clock::time_point now) {
    // Rounded up, so a step never ends before the moment it waits for.
    const auto left = ceil<milliseconds>(m_due - now);
    m_timer.start(std::clamp(left, milliseconds(0), kLongestStep));
}

} // namespace rio::poll
