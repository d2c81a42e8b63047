#include "boardtest/test_record.h"

#include <algorithm>

namespace rio::boardtest {

Verdict TestRecord::verdict() const {
    const auto any = [this](StepOutcome outcome) {
        return std::ranges::any_of(
            steps, [outcome](const StepResult& step) { return step.outcome == outcome; });
    };
    if (!message.isEmpty() || any(StepOutcome::Error))
        return Verdict::Error;
    if (any(StepOutcome::Fail))
        return Verdict::Fail;
    return Verdict::Pass;
}

QString outcomeName(StepOutcome outcome) {
    switch (outcome) {
    case StepOutcome::Pass:
        return QStringLiteral("pass");
    case StepOutcome::Fail:
        return QStringLiteral("fail");
    case StepOutcome::Error:
        return QStringLiteral("error");
    case StepOutcome::Skipped:
        return QStringLiteral("skipped");
    }
    return {};
}

QString verdictName(Verdict verdict) {
    switch (verdict) {
    case Verdict::Pass:
        return QStringLiteral("PASS");
    case Verdict::Fail:
        return QStringLiteral("FAIL");
    case Verdict::Error:
        return QStringLiteral("ERROR");
    }
    return {};
}

int exitStatus(Verdict verdict) {
    switch (verdict) {
    case Verdict::Pass:
        return 0;
    case Verdict::Fail:
        return 1;
    case Verdict::Error:
        return 2;
    }
    return 2;
}

} // namespace rio::boardtest
