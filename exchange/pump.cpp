#include "exchange/pump.h"

#include <QCoreApplication>

#include <algorithm>

namespace rio::exchange {

namespace {

using namespace std::chrono;

// How late a kept single-shot wake may be for a later poll's deadline before
// it is set again: a timer counts whole milliseconds anyway.
constexpr milliseconds kWakeTolerance{1};

} // namespace

QtEventPump::QtEventPump() {
    m_timer.setTimerType(Qt::PreciseTimer);
}

void QtEventPump::pumpOnce() {
    QCoreApplication::processEvents();
}

void QtEventPump::pumpUntil(Clock::time_point deadline) {
    const Clock::time_point now = Clock::now();
    if (now >= deadline) {
        QCoreApplication::processEvents();
        return;
    }
    if (deadline - now <= m_tick) {
        // Polls come faster than a timer can wake: one ticker for all of them.
        if (!m_timer.isActive() || m_timer.isSingleShot()) {
            m_timer.setSingleShot(false);
            m_timer.start(m_tick);
        }
    } else if (!m_timer.isActive() || !m_timer.isSingleShot() ||
               m_wakeAt > deadline + kWakeTolerance) {
        // A quiet stretch (the line still carries the request and the reply):
        // one wake at its end instead of a tick every millisecond. Rounded up,
        // so the wake is never early and the poll never finds its slot unmet.
        const auto sleep = ceil<milliseconds>(deadline - now);
        m_timer.setSingleShot(true);
        m_timer.start(sleep);
        m_wakeAt = now + sleep;
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void QtEventPump::beginWait(microseconds pollSpacing) {
    // Timers count whole milliseconds: tick every millisecond, or at the
    // polls' own spacing when that is wider.
    const auto tick = std::max(milliseconds(1), duration_cast<milliseconds>(pollSpacing));
    if (m_openWaits++ == 0) {
        m_tick = tick;
        m_timer.stop();
    } else {
        m_tick = std::min(m_tick, tick);
    }
}

void QtEventPump::endWait() {
    if (m_openWaits > 0 && --m_openWaits == 0)
        m_timer.stop();
}

} // namespace rio::exchange
