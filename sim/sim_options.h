#pragma once
// The riosim command line, turned into simulator settings. Kept apart from
// main() so the rules can be tested without starting a process.

#include "sim/simulator.h"

#include <optional>
#include <string>
#include <vector>

namespace rio::sim {

struct Options {
    SimConfig config;
    std::string device; // empty: serve on a new pseudo-terminal
    int deviceBaud = 9600;
    bool log = false;
    bool help = false;
    bool version = false;
};

struct ParsedOptions {
    std::optional<Options> options; // none when the command line is wrong
    std::string error;              // why, for the user
};

// The arguments after the program name.
[[nodiscard]] ParsedOptions parseOptions(const std::vector<std::string>& args);

[[nodiscard]] std::string usageText();

} // namespace rio::sim
