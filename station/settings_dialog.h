#pragma once
// Asks for the station's settings when it starts without enough of them: the
// plan, the line (a device or a port number), the station's name, the store
// and the report folder. Every field is reached with Tab; Return accepts.

#include "station/station_settings.h"

#include <QDialog>

class QLineEdit;
class QLabel;

namespace rio::station {

class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit SettingsDialog(const StationSettings& settings, QWidget* parent = nullptr);

    [[nodiscard]] StationSettings settings() const;

    void accept() override;

private:
    QLineEdit* m_plan = nullptr;
    QLineEdit* m_device = nullptr;
    QLineEdit* m_port = nullptr;
    QLineEdit* m_station = nullptr;
    QLineEdit* m_store = nullptr;
    QLineEdit* m_report = nullptr;
    QLabel* m_problem = nullptr;
};

} // namespace rio::station
