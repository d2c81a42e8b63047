#include "bench/riobench/stats.h"

#include <algorithm>
#include <cmath>

namespace rio::bench {

namespace {

double nearestRank(const std::vector<double>& sorted, double fraction) {
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * double(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

} // namespace

Summary summarize(std::vector<double> samples) {
    Summary s;
    if (samples.empty())
        return s;
    std::sort(samples.begin(), samples.end());
    s.count = int(samples.size());
    const std::size_t mid = samples.size() / 2;
    s.median = samples.size() % 2 ? samples[mid] : (samples[mid - 1] + samples[mid]) / 2;
    s.p99 = nearestRank(samples, 0.99);
    s.min = samples.front();
    s.max = samples.back();
    return s;
}

} // namespace rio::bench
