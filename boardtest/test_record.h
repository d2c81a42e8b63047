#pragma once
// The record of one board test, as a quality system files it: the unit, the
// station, the plan and its hash, start and end, and per step its outcome,
// message and measurements with their limits. The report writers and the
// summary read it; the test steps fill it.

#include <QJsonValue>
#include <QString>

#include <chrono>
#include <vector>

namespace rio::boardtest {

enum class StepOutcome { Pass, Fail, Error, Skipped };

// PASS: every step run passed. FAIL: a limit failed while the board answered.
// ERROR: the board could not be tested (the port, the plan, an interruption);
// it never means the board failed.
enum class Verdict { Pass, Fail, Error };

// A value and its limits are numbers, texts (input states as on the line) or
// null (not measured, no limit on that side).
struct Measurement {
    QString name;
    QJsonValue value;
    QJsonValue low;
    QJsonValue high;
    StepOutcome outcome = StepOutcome::Pass;
};

struct StepResult {
    QString name; // communication, loopback, analog, teardown
    StepOutcome outcome = StepOutcome::Skipped;
    QString message;
    std::vector<Measurement> measurements;
    std::chrono::milliseconds duration{0};
};

using WallClock = std::chrono::system_clock;

struct TestRecord {
    // The run's identity in every store, given when it is first stored.
    QString uuid;
    QString unit; // --unit, empty when not given
    // The unit's runs so far, this one included, counted by the store; 0
    // until the run is stored.
    int attempt = 0;
    QString station;      // the test station's name; the host's by default
    QString operatorName; // who ran the test; empty when not known
    QString address;      // the board tested
    QString host;
    QString version; // the program that ran the test: "riopoll 0.2.0"
    QString planFile;
    QString planSha256; // empty when the file could not be read at all
    WallClock::time_point start;
    WallClock::time_point end;
    // Why the board could not be tested, for an ERROR that stopped the test
    // before or between steps; empty otherwise.
    QString message;
    std::vector<StepResult> steps;

    // ERROR when any step could not run, else FAIL when any failed, else PASS.
    [[nodiscard]] Verdict verdict() const;
};

[[nodiscard]] QString outcomeName(StepOutcome outcome); // "pass", "fail", "error", "skipped"
[[nodiscard]] QString verdictName(Verdict verdict);     // "PASS", "FAIL", "ERROR"
[[nodiscard]] int exitStatus(Verdict verdict);          // 0, 1, 2

} // namespace rio::boardtest
