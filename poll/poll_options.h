#pragma once
// The riopoll command line, read into what the program does. Kept apart from
// main() so its rules live in one place with their messages.

#include "protocol/frames.h"
#include "store/store_location.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace rio::poll {

enum class OutputFormat { Table, Csv, Jsonl };

struct PollSettings {
    std::vector<protocol::BoardAddr> boards = {"01", "02", "03"};
    // Requested outputs per address; a board not named keeps them all off.
    std::map<protocol::BoardAddr, protocol::Bits> outputs;
    std::optional<long long> count;                    // board polls
    std::optional<std::chrono::milliseconds> duration; // from the first poll
    std::chrono::milliseconds interval{100};           // 0: back to back
    OutputFormat format = OutputFormat::Table;
    QString tracePath; // empty: no trace file
};

struct TestSettings {
    QString planPath;
    QString unit;                                // empty when not given
    QString reportDir;                           // empty: no report
    std::optional<store::StoreLocation> store{}; // --store; none: the run is not stored
    QString station{};                           // empty: the host's name
};

struct Options {
    // The line: a device path, or a port number under the panel's numbering.
    QString device;
    std::optional<int> port;
    std::optional<std::int32_t> speed; // --speed; the default is 9600, or the plan's
    std::optional<TestSettings> test;  // set: the board test, else polling
    PollSettings poll;
};

struct ParsedOptions {
    std::optional<Options> options;
    QString error; // why not, for the user; empty with --help or --version
    QString text;  // the help or version text to print, with exit 0
};

[[nodiscard]] ParsedOptions parseOptions(const QStringList& arguments);

// The longest --duration and --interval: a year, far beyond any bench run.
// Polling keeps such a time on the steady clock, not in a timer's int
// milliseconds (about 24.8 days at most).
inline constexpr std::chrono::milliseconds kLongestTime = std::chrono::hours(24 * 365);

// "10s", "100ms", "2m", "1h"; "0" alone is zero. Whole numbers only. A time
// too long for milliseconds to count comes back as milliseconds::max(), so a
// limit refuses it as too long rather than as malformed.
[[nodiscard]] std::optional<std::chrono::milliseconds> parseDuration(const QString& text);

// Eight 0/1 characters as on the line, output 8 first, into the panel's
// states (index 0 is output 1).
[[nodiscard]] std::optional<protocol::Bits> parseLineStates(const QString& text);

} // namespace rio::poll
