#pragma once
// What every program that runs the board test does before the first step,
// the same way: the record's header, the plan read and judged, the port
// opened as the panel opens it, and the steps of a test that could not start.
// riopoll and the test station both call these.

#include "boardtest/plan.h"
#include "boardtest/test_record.h"
#include "serial/port_control.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace rio::boardtest {

// The line a test runs on: a device path, or a number in the panel's port
// numbering (1 when neither is given).
struct TestPort {
    QString device;
    std::optional<int> number;
};

// "/dev/ttyUSB0", or "port 2".
[[nodiscard]] QString portName(const TestPort& port);

// The port opened as the panel opens it: a device stands for port 1 of a
// numbering that holds only that device. Throws serial::PortError with the
// reason when it will not open.
[[nodiscard]] std::unique_ptr<serial::PortControl> openTestPort(const TestPort& port,
                                                                std::int32_t speed);

// A record begun now: unit, station (the host's name when empty), host, plan
// file and the program's name and version from the application.
[[nodiscard]] TestRecord newRecord(const QString& unit, const QString& station,
                                   const QString& planPath);

struct LoadedPlan {
    std::optional<Plan> plan;
    QString sha256; // of the bytes read; empty when none could be
    // Why there is no plan, for the record: "cannot read the plan P: ..." or
    // "the plan P is refused: line 4: ...".
    QString message;
    // The reader's own words for a refused plan: "line 4: ...".
    QString refusal;
};

// Reads the plan file (see plan_file.h) and parses it.
[[nodiscard]] LoadedPlan loadPlan(const QString& path);

// The steps of a test that could not start: the first the plan holds (all,
// when the plan is unknown) carries the reason as its error, the others are
// not run. Nothing was sent, so teardown has nothing to undo.
[[nodiscard]] std::vector<StepResult> stepsNotRun(const Plan* plan, const QString& reason);

} // namespace rio::boardtest
