// The per-board counters after scripted sequences of frames on the line.
#include "trace/counters.h"

#include <QTest>

using namespace rio;
using namespace std::chrono;
using namespace std::string_literals;
using exchange::Direction;
using exchange::ExchangeKind;
using exchange::FrameEvent;
using exchange::FrameOutcome;

namespace {

const system_clock::time_point kAt = sys_days{year{2026} / December / 8} + hours{5};

FrameEvent tx(int board, ExchangeKind kind) {
    FrameEvent e;
    e.board = board;
    e.address = "0"s + static_cast<char>('0' + board);
    e.kind = kind;
    e.direction = Direction::Tx;
    e.bytes = "\x05" + e.address + (kind == ExchangeKind::Read ? "R" : "W00000000") + "\x04";
    e.time = kAt;
    return e;
}

FrameEvent rx(int board, ExchangeKind kind, FrameOutcome outcome,
              std::optional<milliseconds> response) {
    FrameEvent e = tx(board, kind);
    e.direction = Direction::Rx;
    e.outcome = outcome;
    if (response)
        e.response = duration_cast<microseconds>(*response);
    e.bytes = response ? "\x06" + e.address + "R100000010512102\x03" : "";
    return e;
}

// One exchange, its request and how its wait ended.
void oneExchange(trace::LineCounters& counters, int board, ExchangeKind kind, FrameOutcome outcome,
                 std::optional<milliseconds> response) {
    counters.count(tx(board, kind));
    counters.count(rx(board, kind, outcome, response));
}

} // namespace

class TestCounters : public QObject {
    Q_OBJECT
private slots:
    void everyEndingCountedApart() {
        trace::LineCounters counters;
        const auto read = ExchangeKind::Read;
        const auto write = ExchangeKind::Write;
        oneExchange(counters, 2, read, FrameOutcome::Ok, 20ms);
        oneExchange(counters, 2, write, FrameOutcome::Ok, 10ms);
        oneExchange(counters, 2, read, FrameOutcome::RejectedLength, 30ms);
        oneExchange(counters, 2, read, FrameOutcome::RejectedAck, 40ms);
        oneExchange(counters, 2, read, FrameOutcome::RejectedCommand, 50ms);
        oneExchange(counters, 2, write, FrameOutcome::RejectedEtx, 60ms);
        oneExchange(counters, 2, read, FrameOutcome::RejectedAnalog, 70ms);
        oneExchange(counters, 2, write, FrameOutcome::NoAnswer, std::nullopt);
        // The port failed before this write's request went out: no TX.
        FrameEvent failed = rx(2, write, FrameOutcome::PortError, std::nullopt);
        failed.reason = "Input/output error";
        failed.time = kAt + 5s;
        counters.count(failed);
        // The program left during this read's wait: no RX.
        counters.count(tx(2, read));

        const trace::BoardCounts& c = counters.counts(2);
        QCOMPARE(c.readsStarted, 6u);
        QCOMPARE(c.writesStarted, 4u);
        QCOMPARE(c.accepted, 2u);
        QCOMPARE(c.rejectedLength, 1u);
        QCOMPARE(c.rejectedAck, 1u);
        QCOMPARE(c.rejectedCommand, 1u);
        QCOMPARE(c.rejectedEtx, 1u);
        QCOMPARE(c.rejectedAnalog, 1u);
        QCOMPARE(c.noAnswer, 1u);
        QCOMPARE(c.portFailures, 1u);

        // Replies 20 10 30 40 50 60 70 ms; sorted, the 4th and 7th of 7.
        const std::optional<trace::ResponseTimes> times = counters.responseTimes(2);
        QVERIFY(times);
        QCOMPARE(times->samples, std::size_t{7});
        QCOMPARE(times->last, microseconds{70000});
        QCOMPARE(times->median, microseconds{40000});
        QCOMPARE(times->p95, microseconds{70000});
        QCOMPARE(times->max, microseconds{70000});

        QVERIFY(counters.lastFailure(2));
        QVERIFY(counters.lastFailure(2)->time == kAt + 5s);
        QCOMPARE(counters.lastFailureText(2), "port-error: Input/output error"s);

        for (const int other : {1, 3}) {
            QCOMPARE(counters.counts(other).readsStarted, 0u);
            QCOMPARE(counters.counts(other).portFailures, 0u);
            QVERIFY(!counters.responseTimes(other));
            QVERIFY(!counters.lastFailure(other));
        }

        // The port is opened again.
        counters.reset();
        QCOMPARE(counters.counts(2).readsStarted, 0u);
        QCOMPARE(counters.counts(2).accepted, 0u);
        QCOMPARE(counters.counts(2).portFailures, 0u);
        QVERIFY(!counters.responseTimes(2));
        QVERIFY(!counters.lastFailure(2));
        // The read in flight across the reset ends in the new count, started there.
        counters.count(rx(2, read, FrameOutcome::RejectedEtx, std::nullopt));
        QCOMPARE(counters.counts(2).readsStarted, 1u);
        QCOMPARE(counters.counts(2).rejectedEtx, 1u);
        QCOMPARE(counters.lastFailureText(2), "rejected:etx"s);
    }

    void failureTextShowsTheReplyReadable() {
        trace::LineCounters counters;
        FrameEvent reply = rx(1, ExchangeKind::Read, FrameOutcome::RejectedAck, 27ms);
        reply.bytes = "\x15"
                      "01R\x1b";
        counters.count(reply);
        QCOMPARE(counters.lastFailureText(1), "rejected:ack <NAK>01R<1B>"s);
    }

    void responseTimesOverTheLatestThousand() {
        trace::LineCounters counters;
        for (const int ms : {30, 100, 50, 70, 90, 20, 40, 10, 80, 60})
            oneExchange(counters, 1, ExchangeKind::Read, FrameOutcome::Ok, milliseconds{ms});
        std::optional<trace::ResponseTimes> times = counters.responseTimes(1);
        QVERIFY(times);
        // Ten replies: the median is the 5th smallest, the 95th percentile the 10th.
        QCOMPARE(times->samples, std::size_t{10});
        QCOMPARE(times->last, microseconds{60000});
        QCOMPARE(times->median, microseconds{50000});
        QCOMPARE(times->p95, microseconds{100000});
        QCOMPARE(times->max, microseconds{100000});

        // A slow reply, then 1000 replies of 1..1000 ms in a scrambled order:
        // the slow one and the ten before it have left the window.
        oneExchange(counters, 1, ExchangeKind::Write, FrameOutcome::Ok, 5000ms);
        for (int i = 0; i < 1000; ++i)
            oneExchange(counters, 1, ExchangeKind::Read, FrameOutcome::Ok,
                        milliseconds{i * 7919 % 1000 + 1});
        times = counters.responseTimes(1);
        QVERIFY(times);
        QCOMPARE(times->samples, std::size_t{1000});
        QCOMPARE(times->last, microseconds{82000}); // 999 x 7919 = 7911081
        QCOMPARE(times->median, microseconds{500000});
        QCOMPARE(times->p95, microseconds{950000});
        QCOMPARE(times->max, microseconds{1000000});
        QCOMPARE(counters.counts(1).readsStarted, 1010u);
        QCOMPARE(counters.counts(1).accepted, 1011u);
    }
};

QTEST_GUILESS_MAIN(TestCounters)
#include "test_counters.moc"
