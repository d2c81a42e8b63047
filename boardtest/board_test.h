#pragma once
// The go/no-go test of one board, step by step, on the panel's own exchanges:
//   communication  read+write cycles with all outputs off, against the limits
//                  on failures and the 95th percentile of response times;
//   loopback       every mapped input off with all outputs off, only its
//                  mapped input on with each output alone, all mapped inputs
//                  on with all on; inputs are read after the write was accepted;
//   analog         the median of the communication step's readings against
//                  each channel's limits;
//   teardown       all outputs off, confirmed by an accepted write: always,
//                  after a failure, a port failure or a stop request too.
// What happened is learnt from the frame events of the line's observer.

#include "boardtest/plan.h"
#include "boardtest/recording_display.h"
#include "boardtest/test_record.h"
#include "exchange/exchange.h"
#include "trace/counters.h"

#include <functional>
#include <optional>
#include <vector>

namespace rio::boardtest {

// A write or read that gets no accepted reply is tried this often before the
// step gives up on it, so that one lost frame fails the communication step,
// whose limits count it, and not the steps after it.
inline constexpr int kTries = 3;

class BoardTest : private exchange::FrameObserver {
public:
    // The test listens to the line's frames while it lives. `stopRequested`
    // is asked between exchanges.
    BoardTest(exchange::Line& line, const Plan& plan, std::function<bool()> stopRequested);
    ~BoardTest() override;
    BoardTest(const BoardTest&) = delete;
    BoardTest& operator=(const BoardTest&) = delete;

    // Called with a step's name as it begins.
    void setProgress(std::function<void(const QString&)> progress) {
        m_progress = std::move(progress);
    }
    // Called with each step's result as it ends, teardown too.
    void setStepDone(std::function<void(const StepResult&)> done) { m_stepDone = std::move(done); }
    // Says why a stop was requested, for the interrupted step's message.
    void setStopReason(std::function<QString()> reason) { m_stopReason = std::move(reason); }

    // Runs the steps in order and returns them, teardown always last.
    [[nodiscard]] std::vector<StepResult> run();

private:
    // How an exchange's wait ended, and the reply as judged when one came.
    struct Reply {
        exchange::FrameOutcome outcome = exchange::FrameOutcome::None;
        std::optional<protocol::JudgedReply> judged;
    };

    void frame(const exchange::FrameEvent& event) override;

    // One exchange; how it ended, or none when it did not run.
    std::optional<Reply> exchangeOnce(exchange::ExchangeKind kind);
    // Up to kTries exchanges until one is accepted (a read: passes the
    // acceptance tests); the last one's ending, or none when stopped first.
    std::optional<Reply> untilAccepted(exchange::ExchangeKind kind, bool stoppable = true);

    [[nodiscard]] bool stopped() const { return m_stopRequested(); }
    [[nodiscard]] QString interruption() const;

    StepResult communication();
    StepResult loopback();
    StepResult analog();
    StepResult teardown();

    exchange::Line& m_line;
    const Plan& m_plan;
    std::function<bool()> m_stopRequested;
    std::function<void(const QString&)> m_progress;
    std::function<QString()> m_stopReason;
    std::function<void(const StepResult&)> m_stepDone;

    RecordingDisplay m_display;
    exchange::BoardState m_state;
    exchange::Board m_board;

    std::optional<Reply> m_lastReply;
    // The port's own words once an exchange failed on it.
    std::optional<QString> m_portFailure;
    // The analog readings of the communication step's reads.
    std::vector<double> m_analog1;
    std::vector<double> m_analog2;
    // The communication step's counts, while it runs.
    std::optional<trace::LineCounters> m_counters;
    bool m_answered = false; // any accepted exchange in the communication step
};

} // namespace rio::boardtest
