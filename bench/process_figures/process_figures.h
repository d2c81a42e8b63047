#pragma once
// What this process costs the machine, read from the kernel: processor time
// and resident memory. The benchmark, the soak run and the fault tests all
// take these figures; this is the one place that reads them. Plain C++ with
// nothing else linked, so a test can use it without taking in the benchmark.

#include <chrono>

namespace rio::bench {

// Processor time this process has used so far, all its threads.
[[nodiscard]] std::chrono::nanoseconds processorTimeUsed();

// Resident memory of this process now, in bytes (0 where it cannot be read).
[[nodiscard]] long long residentBytes();

// The most resident memory this process has had, in bytes (-1 where it
// cannot be read).
[[nodiscard]] long long peakResidentBytes();

} // namespace rio::bench
