#pragma once
// The figures, each taken in a child process of its own: `riobench --worker
// NAME key=value ...` prints one result line and exits. The parent (report.cpp)
// decides the parameters and puts the results together.

#include <QJsonObject>
#include <QMap>
#include <QString>

namespace rio::bench {

// Marks the result line among whatever else a worker prints.
inline constexpr const char* kResultPrefix = "riobench-result ";

using Params = QMap<QString, QString>;

// Runs the named worker in this process (a QApplication must exist) and
// returns its result. Throws std::runtime_error when the figure cannot be
// taken: the line does not open, nothing is exchanged, and so on.
[[nodiscard]] QJsonObject runWorker(const QString& name, const Params& params);

} // namespace rio::bench
