#pragma once
// riopoll's questions to a results store, no line needed:
//   riopoll --history UNIT   every run of a unit, newest first
//   riopoll --yield          units tested, first-pass and final yield
//   riopoll --pareto         failed steps by step and message, most first
// --yield and --pareto take a period (--since, --until) and a station. Out as
// a table for a person, or CSV with a header row or JSON lines for a script
// (--format). Exit 0, or 2 when the store cannot be read.

#include <QStringList>

#include <chrono>
#include <optional>

namespace rio::poll {

// Whether the command line asks one of these questions.
[[nodiscard]] bool isStoreQuery(const QStringList& arguments);

[[nodiscard]] int runStoreQuery(const QStringList& arguments);

// "2026-12-08" (local midnight), "2026-12-08T14:30[:05[.250]]" (local), or
// either with "Z" or "+09:00"; none when the text is not such a time.
[[nodiscard]] std::optional<std::chrono::system_clock::time_point>
parseQueryTime(const QString& text);

} // namespace rio::poll
