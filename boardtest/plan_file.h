#pragma once
// A plan's bytes, read without ever waiting. A plan is a regular file a person
// wrote: a FIFO, a terminal or a device could keep riopoll waiting in open()
// or read() before the test has begun, out of reach of Ctrl+C, and a file of
// megabytes is not a plan. The file is opened without blocking and looked at
// (fstat) before a byte of it is read.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace rio::boardtest {

// The largest plan taken: many times any plan a bench needs.
inline constexpr std::int64_t kMaxPlanBytes = 1 << 20;

struct PlanFile {
    std::optional<QByteArray> text;
    QString error; // why not, in a few words: "not a regular file"
};

[[nodiscard]] PlanFile readPlanFile(const QString& path);

} // namespace rio::boardtest
