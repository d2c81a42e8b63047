#include "boardtest/board_test.h"

#include "protocol/frame_text.h"
#include "protocol/numbers.h"
#include "serial/serial_control.h"
#include "trace/trace_format.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace rio::boardtest {

namespace {

using namespace std::chrono;
using exchange::ExchangeKind;
using exchange::FrameEvent;
using exchange::FrameOutcome;

const QString kCommunication = QStringLiteral("communication");
const QString kLoopback = QStringLiteral("loopback");
const QString kAnalog = QStringLiteral("analog");
const QString kTeardown = QStringLiteral("teardown");

protocol::Bits allOff() {
    protocol::Bits bits;
    bits.fill('0');
    return bits;
}

// Passes the acceptance tests of its kind; a read whose analog field is not
// a number still carries its inputs.
bool accepted(const std::optional<protocol::JudgedReply>& reply) {
    return reply && reply->framePassed();
}

// Plain decimal text as a number; not through the C library, whose reading
// follows the user's locale.
std::optional<double> decimal(std::string_view text) {
    double value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

QString lineOrder(const protocol::Bits& bits) {
    return QString::fromStdString(protocol::lineOrder(bits));
}

// One pattern of the loop-back step: the outputs driven and what the mapped
// inputs must show. An input the map does not name is not checked ('x').
struct Pattern {
    QString name;
    QString label; // for messages: "output 3 alone"
    protocol::Bits outputs = allOff();
    QString expected = QStringLiteral("xxxxxxxx");
};

std::vector<Pattern> patterns(const std::vector<LoopLink>& links) {
    Pattern off{QStringLiteral("all_off"), QStringLiteral("all outputs off")};
    Pattern on{QStringLiteral("all_on"), QStringLiteral("all outputs on")};
    for (const LoopLink& link : links) {
        off.expected[protocol::linePosition(link.input)] = QLatin1Char('0');
        on.expected[protocol::linePosition(link.input)] = QLatin1Char('1');
        on.outputs[std::size_t(link.output - 1)] = '1';
    }
    std::vector<Pattern> all{off};
    for (const LoopLink& alone : links) {
        Pattern pattern{QStringLiteral("output_%1_alone").arg(alone.output),
                        QStringLiteral("output %1 alone").arg(alone.output)};
        pattern.outputs[std::size_t(alone.output - 1)] = '1';
        pattern.expected = off.expected;
        pattern.expected[protocol::linePosition(alone.input)] = QLatin1Char('1');
        all.push_back(pattern);
    }
    all.push_back(on);
    return all;
}

// "input 3 off (expected on), input 4 on (expected off)"; empty when right.
QString wrongInputs(const QString& seen, const QString& expected) {
    QStringList wrong;
    for (int k = 1; k <= 8; ++k) {
        const QChar want = expected[protocol::linePosition(k)];
        const QChar got = seen[protocol::linePosition(k)];
        if (want != QLatin1Char('x') && got != want)
            wrong << QStringLiteral("input %1 %2 (expected %3)")
                         .arg(k)
                         .arg(got == QLatin1Char('1') ? "on" : "off")
                         .arg(want == QLatin1Char('1') ? "on" : "off");
    }
    return wrong.join(QStringLiteral(", "));
}

QJsonValue limitValue(const std::optional<double>& limit) {
    return limit ? QJsonValue(*limit) : QJsonValue();
}

// By nearest rank, as the response times' median: always a reading the
// board gave.
double median(std::vector<double> values) {
    std::ranges::sort(values);
    return values[protocol::nearestRankIndex(values.size(), 50)];
}

} // namespace

BoardTest::BoardTest(exchange::Line& line, const Plan& plan, std::function<bool()> stopRequested)
    : m_line(line), m_plan(plan),
      m_stopRequested(std::move(stopRequested)), m_board{1, &m_display, &m_state} {
    m_state.address = plan.board;
    m_state.outBits = allOff();
    m_line.frames().add(this);
}

BoardTest::~BoardTest() {
    m_line.frames().remove(this);
}

void BoardTest::frame(const FrameEvent& event) {
    if (m_counters)
        m_counters->count(event);
    if (event.board != m_board.number || event.direction != exchange::Direction::Rx)
        return;
    m_lastReply = Reply{event.outcome, std::nullopt};
    if (event.judged)
        m_lastReply->judged = *event.judged;
    if (event.outcome == FrameOutcome::PortError)
        m_portFailure = QString::fromStdString(event.reason);
}

std::optional<BoardTest::Reply> BoardTest::exchangeOnce(ExchangeKind kind) {
    m_lastReply.reset();
    if (kind == ExchangeKind::Read)
        exchange::readBoard(m_line, m_board);
    else
        exchange::writeBoard(m_line, m_board);
    return m_lastReply;
}

std::optional<BoardTest::Reply> BoardTest::untilAccepted(ExchangeKind kind, bool stoppable) {
    std::optional<Reply> reply;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        if (stoppable && stopped())
            return std::nullopt;
        reply = exchangeOnce(kind);
        if (!reply || accepted(reply->judged) || reply->outcome == FrameOutcome::PortError)
            break;
    }
    return reply;
}

QString BoardTest::interruption() const {
    const QString reason = m_stopReason ? m_stopReason() : QString();
    return reason.isEmpty() ? QStringLiteral("interrupted")
                            : QStringLiteral("interrupted by %1").arg(reason);
}

std::vector<StepResult> BoardTest::run() {
    std::vector<StepResult> steps;
    // Why the steps after one cannot run (teardown runs whatever).
    QString notRun;
    StepOutcome notRunOutcome = StepOutcome::Skipped;
    const auto step = [&](const QString& name, bool present, StepResult (BoardTest::*body)()) {
        StepResult result;
        if (!present) {
            result.message = QStringLiteral("not in the plan");
        } else if (!notRun.isEmpty()) {
            result.outcome = notRunOutcome;
            result.message = QStringLiteral("not run: ") + notRun;
        } else {
            if (m_progress)
                m_progress(name);
            const auto began = steady_clock::now();
            result = (this->*body)();
            result.duration = duration_cast<milliseconds>(steady_clock::now() - began);
            if (m_portFailure) {
                notRun = QStringLiteral("the port failed");
            } else if (stopped()) {
                notRun = interruption();
            } else if (name == kCommunication && !m_answered) {
                // A board that accepted nothing fails every step that needs
                // its answers, without minutes of retries to show it.
                notRun = QStringLiteral("the board accepted no exchange in the communication step");
                notRunOutcome = StepOutcome::Fail;
            }
        }
        result.name = name;
        if (m_stepDone)
            m_stepDone(result);
        steps.push_back(std::move(result));
    };
    step(kCommunication, m_plan.communication.has_value(), &BoardTest::communication);
    step(kLoopback, m_plan.loopback.has_value(), &BoardTest::loopback);
    step(kAnalog, m_plan.analog1 || m_plan.analog2, &BoardTest::analog);
    notRun.clear();
    step(kTeardown, true, &BoardTest::teardown);
    return steps;
}

StepResult BoardTest::communication() {
    const CommunicationPlan& plan = *m_plan.communication;
    StepResult result;
    m_state.outBits = allOff();
    int exchanges = 0;
    int failures = 0;
    m_counters.emplace();
    const auto tally = [&](const std::optional<Reply>& reply) {
        if (!reply)
            return;
        ++exchanges;
        if (reply->outcome == FrameOutcome::Ok)
            m_answered = true;
        else
            ++failures;
    };
    bool interrupted = false;
    for (int cycle = 0; cycle < plan.cycles && !interrupted && !m_portFailure; ++cycle) {
        // A cycle is the panel's board poll: the read, then the write.
        for (const ExchangeKind kind : {ExchangeKind::Read, ExchangeKind::Write}) {
            if (stopped()) {
                interrupted = true;
                break;
            }
            const std::optional<Reply> reply = exchangeOnce(kind);
            tally(reply);
            if (reply && kind == ExchangeKind::Read && accepted(reply->judged)) {
                if (const auto& a = reply->judged->analog1.number)
                    m_analog1.push_back(a->value);
                if (const auto& b = reply->judged->analog2.number)
                    m_analog2.push_back(b->value);
            }
        }
    }

    Measurement count{QStringLiteral("exchanges"), exchanges, QJsonValue(), QJsonValue()};
    Measurement failed{QStringLiteral("failures"), failures, QJsonValue(), plan.maxFailures};
    failed.outcome = failures <= plan.maxFailures ? StepOutcome::Pass : StepOutcome::Fail;
    std::optional<double> p95;
    if (const auto times = m_counters->responseTimes(m_board.number))
        p95 = decimal(trace::millisecondsText(times->p95)); // as the trace writes it
    m_counters.reset();
    Measurement response{QStringLiteral("response_p95_ms"), p95 ? QJsonValue(*p95) : QJsonValue(),
                         QJsonValue(), limitValue(plan.maxResponseMs)};
    if (plan.maxResponseMs && (!p95 || *p95 > *plan.maxResponseMs))
        response.outcome = StepOutcome::Fail;
    result.measurements = {count, failed, response};

    QString p95Text = p95 ? QStringLiteral("%1 ms").arg(*p95) : QStringLiteral("none answered");
    if (plan.maxResponseMs)
        p95Text += QStringLiteral(" (at most %1)").arg(*plan.maxResponseMs);
    result.message = QStringLiteral("%1 exchanges, %2 not accepted (at most %3); response p95 %4")
                         .arg(exchanges)
                         .arg(failures)
                         .arg(plan.maxFailures)
                         .arg(p95Text);
    if (m_portFailure) {
        result.outcome = StepOutcome::Error;
        result.message =
            QStringLiteral("the port failed: %1; ").arg(*m_portFailure) + result.message;
    } else if (interrupted) {
        result.outcome = StepOutcome::Error;
        result.message = interruption() + QStringLiteral(" after ") + result.message;
    } else {
        result.outcome =
            failed.outcome == StepOutcome::Pass && response.outcome == StepOutcome::Pass
                ? StepOutcome::Pass
                : StepOutcome::Fail;
    }
    return result;
}

StepResult BoardTest::loopback() {
    StepResult result;
    QStringList failures;
    for (const Pattern& pattern : patterns(*m_plan.loopback)) {
        Measurement measurement{pattern.name, QJsonValue(), pattern.expected, pattern.expected};
        m_state.outBits = pattern.outputs;
        const std::optional<Reply> written = untilAccepted(ExchangeKind::Write);
        std::optional<Reply> read;
        if (written && accepted(written->judged))
            read = untilAccepted(ExchangeKind::Read);
        if (m_portFailure) {
            result.outcome = StepOutcome::Error;
            result.message =
                QStringLiteral("the port failed during %1: %2").arg(pattern.label, *m_portFailure);
            return result;
        }
        if (stopped() && !(read && accepted(read->judged))) {
            result.outcome = StepOutcome::Error;
            result.message = interruption() + QStringLiteral(" during ") + pattern.label;
            return result;
        }
        if (!written || !accepted(written->judged)) {
            measurement.outcome = StepOutcome::Fail;
            failures << QStringLiteral("%1: the board accepted no write in %2 tries")
                            .arg(pattern.label)
                            .arg(kTries);
        } else if (!read || !accepted(read->judged)) {
            measurement.outcome = StepOutcome::Fail;
            failures << QStringLiteral("%1: the board answered no read in %2 tries")
                            .arg(pattern.label)
                            .arg(kTries);
        } else {
            const QString seen = lineOrder(read->judged->inBits);
            // Any byte may stand where an input is not mapped: kept readably,
            // so that the report and the screen never carry a control byte.
            measurement.value = QString::fromStdString(protocol::readableFrame(seen.toStdString()));
            const QString wrong = wrongInputs(seen, pattern.expected);
            if (!wrong.isEmpty()) {
                measurement.outcome = StepOutcome::Fail;
                failures << pattern.label + QStringLiteral(": ") + wrong;
            }
        }
        result.measurements.push_back(measurement);
        if (stopped()) {
            result.outcome = StepOutcome::Error;
            result.message = interruption() + QStringLiteral(" after ") + pattern.label;
            return result;
        }
    }
    result.outcome = failures.isEmpty() ? StepOutcome::Pass : StepOutcome::Fail;
    result.message = failures.isEmpty()
                         ? QStringLiteral("%1 patterns, every mapped input as driven")
                               .arg(result.measurements.size())
                         : failures.join(QStringLiteral("; "));
    return result;
}

StepResult BoardTest::analog() {
    StepResult result;
    result.outcome = StepOutcome::Pass;
    QStringList parts;
    const auto channel = [&](const QString& name, const std::optional<Limits>& limits,
                             const std::vector<double>& readings) {
        if (!limits)
            return;
        Measurement measurement{name + QStringLiteral("_median"), QJsonValue(),
                                limitValue(limits->min), limitValue(limits->max)};
        QString range = QStringLiteral("%1..%2")
                            .arg(limits->min ? QString::number(*limits->min) : QString())
                            .arg(limits->max ? QString::number(*limits->max) : QString());
        if (readings.empty()) {
            measurement.outcome = StepOutcome::Fail;
            parts << QStringLiteral("%1: no reading (%2)").arg(name, range);
        } else {
            const double value = median(readings);
            measurement.value = value;
            const bool within =
                (!limits->min || value >= *limits->min) && (!limits->max || value <= *limits->max);
            measurement.outcome = within ? StepOutcome::Pass : StepOutcome::Fail;
            parts << QStringLiteral("%1 median %2 of %3 readings %4 %5")
                         .arg(name)
                         .arg(value)
                         .arg(readings.size())
                         .arg(within ? "within" : "outside")
                         .arg(range);
        }
        if (measurement.outcome == StepOutcome::Fail)
            result.outcome = StepOutcome::Fail;
        result.measurements.push_back(measurement);
    };
    channel(QStringLiteral("analog1"), m_plan.analog1, m_analog1);
    channel(QStringLiteral("analog2"), m_plan.analog2, m_analog2);
    result.message = parts.join(QStringLiteral("; "));
    return result;
}

StepResult BoardTest::teardown() {
    StepResult result;
    m_state.outBits = allOff();
    // Tried even after the port failed: it may have been a passing fault.
    const std::optional<QString> earlier = std::exchange(m_portFailure, std::nullopt);
    // A port that was lost is closed, and a write to it could never succeed:
    // it is opened once more (the same device: an adapter that dropped out
    // for a moment is usually back), so the outputs can still be put off.
    const bool reopened = !m_line.port().portOpen();
    if (reopened) {
        try {
            m_line.port().setPortOpen(true);
        } catch (const serial::PortError& error) {
            m_portFailure = QString::fromStdString(error.what());
            result.outcome = StepOutcome::Error;
            result.message =
                QStringLiteral("outputs not confirmed off: the port failed%1; opening it again "
                               "failed: %2")
                    .arg(earlier ? QStringLiteral(": ") + *earlier : QString(), *m_portFailure);
            return result;
        }
    }
    const std::optional<Reply> written = untilAccepted(ExchangeKind::Write, false);
    if (written && accepted(written->judged)) {
        result.outcome = StepOutcome::Pass;
        result.message = QStringLiteral("all outputs off, confirmed by an accepted write");
        if (reopened)
            result.message += QStringLiteral(" after opening the port again");
    } else if (m_portFailure || earlier) {
        result.outcome = StepOutcome::Error;
        result.message = QStringLiteral("outputs not confirmed off: the port failed: %1")
                             .arg(m_portFailure.value_or(earlier.value_or(QString())));
    } else {
        result.outcome = StepOutcome::Fail;
        result.message =
            QStringLiteral("outputs not confirmed off: the board accepted no write in %1 tries")
                .arg(kTries);
    }
    if (!m_portFailure)
        m_portFailure = earlier;
    return result;
}

} // namespace rio::boardtest
