// The board test's steps in-process, on the scripted port with a board behind
// it: which frames go to the line in which order, and what each step's
// outcome and message say, for a good board, the faults a loop-back fixture
// shows, a silent board, a reading out of limits, and every way out that must
// still leave the outputs off. Expected frames and texts are written by hand.

#include "boardtest/board_test.h"
#include "boardtest/plan.h"
#include "tests/support/fake_port.h"

#include <QRegularExpression>
#include <QTest>

#include <map>
#include <memory>

using namespace rio::boardtest;

namespace {

// Requests to board 02, as the line carries them: outputs 8 down to 1.
const QByteArray kRead = "\x05"
                         "02R\x04";
const QByteArray kAllOff = "\x05"
                           "02W00000000\x04";
const QByteArray kOutput1 = "\x05"
                            "02W00000001\x04";
const QByteArray kOutput2 = "\x05"
                            "02W00000010\x04";
const QByteArray kOutput3 = "\x05"
                            "02W00000100\x04";
const QByteArray kAllOn = "\x05"
                          "02W00000111\x04";

// Two cycles keep the traffic short; the reading's limits take 900 but not 901.
const char* const kPlan = "[line]\n"
                          "board=02\n"
                          "[communication]\n"
                          "cycles=2\n"
                          "[loopback]\n"
                          "map=1>1,2>2,3>3\n"
                          "[analog1]\n"
                          "min=100\n"
                          "max=900\n";

// The board and its fixture behind the port, and what happens to the test
// from outside.
struct Bench {
    // Output k shows on input wires[k]; unwired outputs show nowhere.
    std::map<int, int> wires{{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}, {8, 8}};
    std::map<int, char> stuck; // input k always reads '0' or '1'
    std::string analog1 = "0900";
    bool silent = false;
    std::size_t stopAt = 0; // a stop is requested once this many frames went out
    std::size_t lostAt = 0; // the adapter drops out as frame number lostAt goes out
};

// Pumps without waiting, so that a silent board costs no wall-clock time.
struct InstantPump : rio::exchange::EventPump {
    void pumpOnce() override {}
    void pumpUntil(rio::exchange::Clock::time_point) override {}
    void beginWait(std::chrono::microseconds) override {}
    void endWait() override {}
};

const std::string ack = "\x06", etx = "\x03";

// The board's answer; outputs and inputs in line order, 8 first.
std::string answer(const Bench& bench, std::string& outputs, const std::string& request) {
    if (bench.silent)
        return {};
    const std::string addr = request.substr(1, 2);
    if (request[3] == 'W') {
        outputs = request.substr(4, 8);
        return ack + addr + "W" + outputs + etx;
    }
    std::string inputs = "00000000";
    for (const auto& [output, input] : bench.wires)
        if (outputs[std::size_t(8 - output)] == '1')
            inputs[std::size_t(8 - input)] = '1';
    for (const auto& [input, state] : bench.stuck)
        inputs[std::size_t(8 - input)] = state;
    return ack + addr + "R" + inputs + bench.analog1 + "0512" + etx;
}

// "fail loopback: output 2 alone: ..."; a measured response time, which no
// test can know, shows as N.
QString described(const StepResult& step) {
    QString message = step.message;
    message.replace(QRegularExpression(QStringLiteral("p95 [0-9.]+ ms")),
                    QStringLiteral("p95 N ms"));
    return outcomeName(step.outcome) + QLatin1Char(' ') + step.name + QStringLiteral(": ") +
           message;
}

} // namespace

Q_DECLARE_METATYPE(Bench)

class TestBoardSteps : public QObject {
    Q_OBJECT
private slots:
    void steps_data() {
        QTest::addColumn<Bench>("bench");
        QTest::addColumn<QByteArrayList>("sent");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("opens");

        const QByteArrayList communication{kRead, kAllOff, kRead, kAllOff};
        const QByteArrayList loopback{kAllOff, kRead,    kOutput1, kRead,  kOutput2,
                                      kRead,   kOutput3, kRead,    kAllOn, kRead};
        const QByteArrayList whole = communication + loopback + QByteArrayList{kAllOff};
        const QString passed = "pass communication: 4 exchanges, 0 not accepted (at most 0); "
                               "response p95 N ms";
        const QString asDriven = "pass loopback: 5 patterns, every mapped input as driven";
        const QString within = "pass analog: analog1 median 900 of 2 readings within 100..900";
        const QString confirmed = "pass teardown: all outputs off, confirmed by an accepted write";

        QTest::newRow("a good board passes")
            << Bench{} << whole << QStringList{passed, asDriven, within, confirmed} << 1;

        Bench stuckOff;
        stuckOff.stuck = {{2, '0'}};
        QTest::newRow("input 2 stuck at 0")
            << stuckOff << whole
            << QStringList{passed,
                           "fail loopback: output 2 alone: input 2 off (expected on); "
                           "all outputs on: input 2 off (expected on)",
                           within, confirmed}
            << 1;

        Bench stuckOn;
        stuckOn.stuck = {{3, '1'}};
        QTest::newRow("input 3 stuck at 1")
            << stuckOn << whole
            << QStringList{passed,
                           "fail loopback: all outputs off: input 3 on (expected off); "
                           "output 1 alone: input 3 on (expected off); "
                           "output 2 alone: input 3 on (expected off)",
                           within, confirmed}
            << 1;

        Bench crossed;
        crossed.wires[1] = 2;
        crossed.wires[2] = 1;
        QTest::newRow("outputs 1 and 2 crossed")
            << crossed << whole
            << QStringList{passed,
                           "fail loopback: output 1 alone: input 1 off (expected on), input 2 on "
                           "(expected off); output 2 alone: input 1 on (expected off), input 2 "
                           "off (expected on)",
                           within, confirmed}
            << 1;

        Bench high;
        high.analog1 = "0901";
        QTest::newRow("analog1 above its limit")
            << high << whole
            << QStringList{passed, asDriven,
                           "fail analog: analog1 median 901 of 2 readings outside 100..900",
                           confirmed}
            << 1;

        Bench silent;
        silent.silent = true;
        QTest::newRow("a silent board")
            << silent << communication + QByteArrayList{kAllOff, kAllOff, kAllOff}
            << QStringList{"fail communication: 4 exchanges, 4 not accepted (at most 0); "
                           "response p95 none answered",
                           "fail loopback: not run: the board accepted no exchange in the "
                           "communication step",
                           "fail analog: not run: the board accepted no exchange in the "
                           "communication step",
                           "fail teardown: outputs not confirmed off: the board accepted no "
                           "write in 3 tries"}
            << 1;

        // Asked after output 2 went on: its read is not made, nothing after
        // it is driven, and the outputs go off.
        Bench stopped;
        stopped.stopAt = 9;
        QTest::newRow("a stop during output 2 alone")
            << stopped
            << communication + QByteArrayList{kAllOff, kRead, kOutput1, kRead, kOutput2, kAllOff}
            << QStringList{passed, "error loopback: interrupted during output 2 alone",
                           "skipped analog: not run: interrupted", confirmed}
            << 1;

        // The adapter drops out while output 1's read waits: the port closes
        // and the read fails on it; teardown opens it again once.
        Bench lost;
        lost.lostAt = 8;
        QTest::newRow("the port lost during output 1 alone")
            << lost << communication + QByteArrayList{kAllOff, kRead, kOutput1, kRead, kAllOff}
            << QStringList{passed,
                           "error loopback: the port failed during output 1 alone: port not open",
                           "skipped analog: not run: the port failed",
                           confirmed + " after opening the port again"}
            << 2;
    }

    void steps() {
        QFETCH(Bench, bench);
        QFETCH(QByteArrayList, sent);
        QFETCH(QStringList, steps);
        QFETCH(int, opens);

        const ParsedPlan parsed = parsePlan(kPlan);
        QVERIFY2(parsed.plan, describe(parsed.error).c_str());
        rio::test::FakePort port;
        std::string outputs = "00000000";
        port.respond = [&](const std::string& request) {
            if (port.sent.size() == bench.lostAt) {
                port.setPortOpen(false);
                return std::string();
            }
            return answer(bench, outputs, request);
        };
        port.setPortOpen(true);
        rio::exchange::Line line(port, std::make_unique<InstantPump>());
        BoardTest test(line, *parsed.plan,
                       [&] { return bench.stopAt != 0 && port.sent.size() >= bench.stopAt; });

        const std::vector<StepResult> results = test.run();

        QStringList seen;
        for (const StepResult& step : results)
            seen << described(step);
        QCOMPARE(seen, steps);
        QByteArrayList frames;
        for (const std::string& frame : port.sent)
            frames << QByteArray::fromStdString(frame);
        QCOMPARE(frames, sent);
        QCOMPARE(port.openCount, opens);
    }

    // An input the map leaves unchecked may carry any byte; the inputs kept
    // as a measurement go to the report and the screen in readable form.
    void inputsKeptReadably() {
        const ParsedPlan parsed = parsePlan(kPlan);
        QVERIFY(parsed.plan);
        Bench noisy;
        noisy.stuck[8] = '\x1b';
        rio::test::FakePort port;
        std::string outputs = "00000000";
        port.respond = [&](const std::string& request) { return answer(noisy, outputs, request); };
        port.setPortOpen(true);
        rio::exchange::Line line(port, std::make_unique<InstantPump>());
        BoardTest test(line, *parsed.plan, [] { return false; });
        const std::vector<StepResult> results = test.run();
        QCOMPARE(results.at(1).name, QStringLiteral("loopback"));
        QCOMPARE(results.at(1).outcome, StepOutcome::Pass);
        QCOMPARE(results.at(1).measurements.at(0).value.toString(), QStringLiteral("<1B>0000000"));
        QCOMPARE(results.at(1).measurements.at(1).value.toString(), QStringLiteral("<1B>0000001"));
    }
};

QTEST_GUILESS_MAIN(TestBoardSteps)
#include "test_board_steps.moc"
