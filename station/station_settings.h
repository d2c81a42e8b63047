#pragma once
// What a station is set up with. A station is a fixed bench: the settings it
// last used are kept (QSettings, organisation "riopanel", application
// "riostation") and used again when it starts without options.

#include "boardtest/test_start.h"

#include <QString>

class QSettings;

namespace rio::station {

struct StationSettings {
    QString planPath;
    boardtest::TestPort port;
    QString station; // empty: the host's name
    QString store = QStringLiteral("default");
    QString reportDir; // empty: no report

    // A plan and a line: enough to test.
    [[nodiscard]] bool complete() const {
        return !planPath.isEmpty() && (!port.device.isEmpty() || port.number.has_value());
    }
};

[[nodiscard]] StationSettings loadSettings(QSettings& settings);
void saveSettings(QSettings& settings, const StationSettings& values);

// The station's name as recorded: the given one, else the host's.
[[nodiscard]] QString stationName(const StationSettings& settings);

} // namespace rio::station
