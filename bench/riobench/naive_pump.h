#pragma once
// The naive baseline the benchmark sets beside the panel: the same exchanges,
// but each of the 5000 polls is a bare processEvents() with no pace at all, so
// the wait lasts only as long as 5000 turns of the event loop happen to take.
// It lives only here, as the yardstick for false no-answers and processor time.

#include "exchange/pump.h"

#include <QCoreApplication>

namespace rio::bench {

class NaivePump : public exchange::EventPump {
public:
    void pumpOnce() override { QCoreApplication::processEvents(); }
    void pumpUntil(exchange::Clock::time_point) override { QCoreApplication::processEvents(); }
    void beginWait(std::chrono::microseconds) override {}
    void endWait() override {}
};

} // namespace rio::bench
