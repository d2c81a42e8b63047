#include "pump.h"

#include <QCoreApplication>

#include <algorithm>

namespace rio::exchange {

QtEventPump::QtEventPump() {
    m_ticker.setTimerType(Qt::PreciseTimer);
    m_ticker.setSingleShot(false);
}

void QtEventPump::pumpOnce() {
    QCoreApplication::processEvents();
}

void QtEventPump::pumpUntil(Clock::time_point deadline) {
    if (Clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    else
        QCoreApplication::processEvents();
}

void QtEventPump::beginWait(std::chrono::microseconds pollSpacing) {
    using namespace std::chrono;
    // Timers count whole milliseconds: tick every millisecond, or at the
    // polls' own spacing when that is wider.
    const auto interval = std::max(milliseconds(1), duration_cast<milliseconds>(pollSpacing));
    if (m_openWaits++ == 0 || interval < milliseconds(m_ticker.interval()))
        m_ticker.start(interval);
}

void QtEventPump::endWait() {
    if (m_openWaits > 0 && --m_openWaits == 0)
        m_ticker.stop();
}

} // namespace rio::exchange
