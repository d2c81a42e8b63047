#pragma once
// Summaries of repeated measurements.

#include <vector>

namespace rio::bench {

struct Summary {
    int count = 0;
    double median = 0;
    double p99 = 0; // nearest rank: the value that 99 % of the samples do not exceed
    double min = 0;
    double max = 0;
};

[[nodiscard]] Summary summarize(std::vector<double> samples);

} // namespace rio::bench
