#pragma once
// A board test plan: the INI file a technician edits by hand. Read by a parser
// of our own rather than QSettings, because a plan with a misspelt key must be
// refused (QSettings would take it silently and the limit would go unchecked)
// and the technician must be told on which line the mistake is.
//
// The form: [section] lines, key=value lines, blank lines, and comments from
// ';' or '#' to the end of the line (whole lines or after a value). Every
// section and key is known; a section may appear once, a key once in it.

#include "protocol/frames.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rio::boardtest {

// Output k drives input j through the loop-back fixture; both 1 to 8, as the
// panel's buttons number them.
struct LoopLink {
    int output = 0;
    int input = 0;

    friend bool operator==(const LoopLink&, const LoopLink&) = default;
};

// An absent limit is not checked.
struct Limits {
    std::optional<double> min;
    std::optional<double> max;

    friend bool operator==(const Limits&, const Limits&) = default;
};

struct CommunicationPlan {
    int cycles = 50; // read+write cycles with all outputs off
    int maxFailures = 0;
    std::optional<double> maxResponseMs; // limit on the 95th percentile

    friend bool operator==(const CommunicationPlan&, const CommunicationPlan&) = default;
};

// A step whose section is absent is not run.
struct Plan {
    std::int32_t speed = 9600;
    protocol::BoardAddr board = "01";
    std::optional<CommunicationPlan> communication;
    std::optional<std::vector<LoopLink>> loopback;
    std::optional<Limits> analog1;
    std::optional<Limits> analog2;
    // [unit] pattern=: a regular expression the whole serial number must
    // match before a test station sends anything; checked when read. riopoll
    // does not use it.
    std::optional<std::string> unitPattern;

    friend bool operator==(const Plan&, const Plan&) = default;
};

struct PlanError {
    int line = 0; // 1 and up; 0 when the mistake is the file's as a whole
    std::string message;
};

struct ParsedPlan {
    std::optional<Plan> plan; // none when the text is refused
    PlanError error;
};

[[nodiscard]] ParsedPlan parsePlan(std::string_view text);

// A board address as a plan or the command line gives it: one or two
// printable ASCII characters, brought to two as the panel's address box does
// it ("1" is "01"). None for anything else.
[[nodiscard]] std::optional<protocol::BoardAddr> boardAddress(std::string_view text);

// "line 7: unknown key 'cycle' in [communication]"
[[nodiscard]] std::string describe(const PlanError& error);

} // namespace rio::boardtest
