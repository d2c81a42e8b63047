#pragma once
// The two things riopoll does, each wired from the shared parts: the port,
// the exchanges' line with its pump and observers, and the poller or the
// board test. Each returns the exit status: 0 good, 1 boards failed, 2 could
// not run.

#include "poll/poll_options.h"
#include "poll/stop_signals.h"

namespace rio::poll {

[[nodiscard]] int runPolling(const Options& options, StopSignals& stop);
[[nodiscard]] int runBoardTest(const Options& options, StopSignals& stop);

} // namespace rio::poll
