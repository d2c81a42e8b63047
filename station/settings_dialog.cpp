#include "station/settings_dialog.h"

#include "store/store_location.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSysInfo>
#include <QVBoxLayout>

namespace rio::station {

SettingsDialog::SettingsDialog(const StationSettings& settings, QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("riostation settings"));
    const auto field = [this](const QString& name, const QString& text) {
        auto* edit = new QLineEdit(text, this);
        edit->setObjectName(name);
        return edit;
    };
    m_plan = field(QStringLiteral("planField"), settings.planPath);
    m_device = field(QStringLiteral("deviceField"), settings.port.device);
    m_port = field(QStringLiteral("portField"),
                   settings.port.number ? QString::number(*settings.port.number) : QString());
    m_port->setPlaceholderText(tr("or a port number, e.g. 1"));
    m_station = field(QStringLiteral("stationField"), settings.station);
    m_station->setPlaceholderText(QSysInfo::machineHostName());
    m_store = field(QStringLiteral("storeField"), settings.store);
    m_report = field(QStringLiteral("reportField"), settings.reportDir);
    m_report->setPlaceholderText(tr("no report"));
    m_problem = new QLabel(this);
    m_problem->setWordWrap(true);

    auto* form = new QFormLayout;
    form->addRow(tr("&Plan file"), m_plan);
    form->addRow(tr("&Device"), m_device);
    form->addRow(tr("P&ort number"), m_port);
    form->addRow(tr("&Station name"), m_station);
    form->addRow(tr("Results s&tore"), m_store);
    form->addRow(tr("&Report folder"), m_report);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_problem);
    layout->addWidget(buttons);
}

StationSettings SettingsDialog::settings() const {
    StationSettings values;
    values.planPath = m_plan->text().trimmed();
    values.port.device = m_device->text().trimmed();
    bool isNumber = false;
    const int number = m_port->text().trimmed().toInt(&isNumber);
    if (isNumber && number > 0)
        values.port.number = number;
    values.station = m_station->text().trimmed();
    values.store = m_store->text().trimmed();
    values.reportDir = m_report->text().trimmed();
    return values;
}

void SettingsDialog::accept() {
    const StationSettings values = settings();
    QString problem;
    if (values.planPath.isEmpty())
        problem = tr("A plan file is needed.");
    else if (values.port.device.isEmpty() && !values.port.number)
        problem = tr("A device or a port number from 1 is needed.");
    else if (const auto location = store::parseStoreLocation(values.store); !location.location)
        problem = location.error;
    if (!problem.isEmpty()) {
        m_problem->setText(problem);
        return;
    }
    QDialog::accept();
}

} // namespace rio::station
