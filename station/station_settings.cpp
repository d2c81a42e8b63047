#include "station/station_settings.h"

#include <QSettings>
#include <QSysInfo>

namespace rio::station {

StationSettings loadSettings(QSettings& settings) {
    StationSettings values;
    values.planPath = settings.value(QStringLiteral("plan")).toString();
    values.port.device = settings.value(QStringLiteral("device")).toString();
    bool isNumber = false;
    const int number = settings.value(QStringLiteral("port")).toInt(&isNumber);
    if (isNumber && number > 0)
        values.port.number = number;
    values.station = settings.value(QStringLiteral("station")).toString();
    values.store = settings.value(QStringLiteral("store"), values.store).toString();
    values.reportDir = settings.value(QStringLiteral("report")).toString();
    return values;
}

void saveSettings(QSettings& settings, const StationSettings& values) {
    settings.setValue(QStringLiteral("plan"), values.planPath);
    settings.setValue(QStringLiteral("device"), values.port.device);
    if (values.port.number)
        settings.setValue(QStringLiteral("port"), *values.port.number);
    else
        settings.remove(QStringLiteral("port"));
    settings.setValue(QStringLiteral("station"), values.station);
    settings.setValue(QStringLiteral("store"), values.store);
    settings.setValue(QStringLiteral("report"), values.reportDir);
}

QString stationName(const StationSettings& settings) {
    return settings.station.isEmpty() ? QSysInfo::machineHostName() : settings.station;
}

} // namespace rio::station
