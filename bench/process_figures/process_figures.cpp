#include "bench/process_figures/process_figures.h"

#include <ctime>
#include <fstream>
#include <string>
#include <unistd.h>

namespace rio::bench {

std::chrono::nanoseconds processorTimeUsed() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

long long residentBytes() {
    // Total program size, then resident size, in pages.
    std::ifstream statm("/proc/self/statm");
    long long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

long long peakResidentBytes() {
    // A line "VmHWM:     12345 kB" among the process's status lines.
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            long long kib = -1;
            status >> kib;
            return kib < 0 ? -1 : kib * 1024;
        }
        status.ignore(1 << 16, '\n');
    }
    return -1;
}

} // namespace rio::bench
