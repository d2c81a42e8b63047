#include "boardtest/test_start.h"

#include "boardtest/plan_file.h"
#include "serial/settings_text.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QSysInfo>

namespace rio::boardtest {

QString portName(const TestPort& port) {
    return port.device.isEmpty() ? QStringLiteral("port %1").arg(port.number.value_or(1))
                                 : port.device;
}

std::unique_ptr<serial::PortControl> openTestPort(const TestPort& port, std::int32_t speed) {
    serial::PortMap ports;
    int number = port.number.value_or(1);
    if (!port.device.isEmpty()) {
        ports = serial::PortMap([] { return std::vector<serial::PresentDevice>{}; });
        ports.addOverride({1, port.device});
        number = 1;
    } else if (const std::optional<QString> path = ports.devicePath(number)) {
        // Held to the device it names now, so that opening the port again
        // after it was lost opens the same device, however the numbering
        // changed meanwhile.
        ports.addOverride({number, *path});
    }
    auto control = std::make_unique<serial::PortControl>(ports);
    control->setCommPort(number);
    control->setSettings(serial::settingsText(speed));
    control->setPortOpen(true);
    return control;
}

TestRecord newRecord(const QString& unit, const QString& station, const QString& planPath) {
    TestRecord record;
    record.start = WallClock::now();
    record.unit = unit;
    record.host = QSysInfo::machineHostName();
    record.planFile = planPath;
    record.station = station.isEmpty() ? record.host : station;
    record.version = QCoreApplication::applicationName() + QLatin1Char(' ') +
                     QCoreApplication::applicationVersion();
    return record;
}

LoadedPlan loadPlan(const QString& path) {
    LoadedPlan loaded;
    const PlanFile file = readPlanFile(path);
    if (!file.text) {
        loaded.message = QStringLiteral("cannot read the plan %1: %2").arg(path, file.error);
        return loaded;
    }
    const QByteArray& text = *file.text;
    loaded.sha256 =
        QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex());
    ParsedPlan parsed = parsePlan(std::string_view(text.constData(), std::size_t(text.size())));
    if (!parsed.plan) {
        loaded.refusal = QString::fromStdString(describe(parsed.error));
        loaded.message = QStringLiteral("the plan %1 is refused: %2").arg(path, loaded.refusal);
        return loaded;
    }
    loaded.plan = std::move(parsed.plan);
    return loaded;
}

std::vector<StepResult> stepsNotRun(const Plan* plan, const QString& reason) {
    const bool present[] = {!plan || plan->communication, !plan || plan->loopback,
                            !plan || plan->analog1 || plan->analog2};
    const char* names[] = {"communication", "loopback", "analog"};
    std::vector<StepResult> steps;
    bool told = false;
    for (std::size_t i = 0; i < 3; ++i) {
        StepResult step;
        step.name = QString::fromLatin1(names[i]);
        if (!present[i]) {
            step.message = QStringLiteral("not in the plan");
        } else if (!told) {
            step.outcome = StepOutcome::Error;
            step.message = reason;
            told = true;
        } else {
            step.message = QStringLiteral("not run: the test could not start");
        }
        steps.push_back(step);
    }
    StepResult teardown;
    teardown.name = QStringLiteral("teardown");
    if (!told) {
        teardown.outcome = StepOutcome::Error;
        teardown.message = reason;
    } else {
        teardown.message = QStringLiteral("not run: nothing was sent");
    }
    steps.push_back(teardown);
    return steps;
}

} // namespace rio::boardtest
