#pragma once
// The benchmark run: starts the workers in their stages, puts their results
// into one table (or JSON) beside the goals, and says which goals are met.

#include <QString>

namespace rio::bench {

struct RunSettings {
    bool quick = false; // small samples, a few seconds: proves the figures can be taken
    bool json = false;
    QString self;   // this program, started again as each worker
    QString riosim; // the simulator program
};

// Returns the process exit code: 0 when every figure could be taken, whether
// or not it met its goal; 1 when a worker failed.
[[nodiscard]] int runBenchmark(const RunSettings& settings);

} // namespace rio::bench
