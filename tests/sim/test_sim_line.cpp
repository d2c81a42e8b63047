// The simulator seen from the panel's end of a real pseudo-terminal: requests
// written, replies read byte for byte with a deadline. Replies are written out
// by hand.
#include "sim/simulator.h"
#include "tests/sim/line_port.h"
#include "tests/support/pseudo_terminal.h"

#include <QTest>

#include <functional>
#include <system_error>
#include <thread>

using namespace rio::sim;
using namespace simtest;
using namespace std::string_literals;

using Fault = std::function<void(BoardConfig&)>;

Q_DECLARE_METATYPE(std::string)
Q_DECLARE_METATYPE(Fault)

// Starts serving or skips the test when the machine has no pseudo-terminals.
#define START_OR_SKIP(sim, path)                                                                   \
    std::string path;                                                                              \
    try {                                                                                          \
        path = (sim).start();                                                                      \
    } catch (const std::system_error& e) {                                                         \
        QSKIP(e.what());                                                                           \
    }

namespace {

const std::string read01 = enq + "01R" + eot, read02 = enq + "02R" + eot;
// Loop-back inputs and default readings, before any write.
const std::string reply01 = ack + "01R" + "00000000" + "0512" + "1023" + etx;
const std::string reply02 = ack + "02R" + "00000000" + "0512" + "1023" + etx;

// Asks board 01 for its inputs and expects its reply as the very next bytes:
// whatever came before it on the line would show up here.
bool nextIsBoard01(LinePort& port) {
    return port.send(read01) && port.receive(reply01.size()) == reply01;
}

SimConfig withBehaviour(const std::string& behaviourOf02) {
    SimConfig config;
    config.boards[1].behaviour = parseBehaviour(behaviourOf02).value();
    return config;
}

} // namespace

class TestSimLine : public QObject {
    Q_OBJECT
private slots:
    void replies_data() {
        QTest::addColumn<std::string>("behaviour");
        QTest::addColumn<std::string>("request");
        QTest::addColumn<std::string>("reply");
        const auto write02 = enq + "02W10110001" + eot;
        QTest::newRow("normal read, zeros before any write") << "normal"s << read02 << reply02;
        QTest::newRow("normal write echoes the states")
            << "normal"s << write02 << ack + "02W10110001" + etx;
        QTest::newRow("bad-ack read has NAK")
            << "bad-ack"s << read02 << "\x15"s + "02R0000000005121023" + etx;
        QTest::newRow("bad-command read has W")
            << "bad-command"s << read02 << ack + "02W0000000005121023" + etx;
        QTest::newRow("bad-command write has R")
            << "bad-command"s << write02 << ack + "02R10110001" + etx;
        QTest::newRow("etx-moved read is 20 bytes")
            << "etx-moved"s << read02 << ack + "02R000000000512102" + etx;
        QTest::newRow("etx-moved write has ETX at 12")
            << "etx-moved"s << write02 << ack + "02W1011000" + etx;
        QTest::newRow("extra-byte read is 22 bytes") << "extra-byte"s << read02 << reply02 + "\0"s;
        QTest::newRow("split read arrives whole") << "split:4:10"s << read02 << reply02;
    }
    void replies() {
        QFETCH(std::string, behaviour);
        QFETCH(std::string, request);
        QFETCH(std::string, reply);
        Simulator sim(withBehaviour(behaviour));
        START_OR_SKIP(sim, path);
        LinePort port(path);
        QVERIFY(port.send(request));
        QCOMPARE(port.receive(reply.size()), reply);
        QVERIFY(nextIsBoard01(port)); // and nothing more than the reply
    }

    // Faults a go/no-go test must catch, set on board 02. Inputs are numbered
    // as on the panel: input 8 is the reply's first input character, input 1
    // its last.
    void boardFaults_data() {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<std::string>("requests");
        QTest::addColumn<std::string>("replies");
        QTest::newRow("input 1 stuck at 1 before any write") << Fault([](BoardConfig& b) {
            b.stuckInputs = {{1, '1'}};
        }) << read02 << ack + "02R" + "00000001" + "0512" + "1023" + etx;
        QTest::newRow("input 8 stuck at 0 hides output 8, not its echo")
            << Fault([](BoardConfig& b) {
                   b.stuckInputs = {{8, '0'}};
               })
            << enq + "02W11111111" + eot + read02
            << ack + "02W11111111" + etx + ack + "02R" + "01111111" + "0512" + "1023" + etx;
        QTest::newRow("crossed 1>2,2>1: output 1 shows on input 2")
            << Fault([](BoardConfig& b) {
                   b.crossedInputs = {{1, 2}, {2, 1}};
               })
            << enq + "02W00000001" + eot + read02
            << ack + "02W00000001" + etx + ack + "02R" + "00000010" + "0512" + "1023" + etx;
        QTest::newRow("output 3 moved to input 5 leaves input 3 at 0")
            << Fault([](BoardConfig& b) {
                   b.crossedInputs = {{3, 5}};
               })
            << enq + "02W00000100" + eot + read02
            << ack + "02W00000100" + etx + ack + "02R" + "00010000" + "0512" + "1023" + etx;
        QTest::newRow("analog 1 out of range as a fixed value")
            << Fault([](BoardConfig& b) { b.analogA = 9999; }) << read02
            << ack + "02R" + "00000000" + "9999" + "1023" + etx;
        // Board 01's read in between does not count towards board 02's second.
        QTest::newRow("intermittent:2 leaves the board's second request unanswered")
            << Fault([](BoardConfig& b) { b.behaviour = *parseBehaviour("intermittent:2"); })
            << read02 + read01 + read02 << reply02 + reply01;
    }
    void boardFaults() {
        QFETCH(Fault, fault);
        QFETCH(std::string, requests);
        QFETCH(std::string, replies);
        SimConfig config;
        fault(config.boards[1]);
        Simulator sim(config);
        START_OR_SKIP(sim, path);
        LinePort port(path);
        QVERIFY(port.send(requests));
        QCOMPARE(port.receive(replies.size()), replies);
        QVERIFY(nextIsBoard01(port)); // and nothing more than the replies
    }

    void inputs_data() {
        QTest::addColumn<QString>("fixed"); // empty: loop-back
        QTest::addColumn<std::string>("writes");
        QTest::addColumn<std::string>("read");
        QTest::addColumn<std::string>("reply");
        QTest::newRow("loop-back returns the last write")
            << "" << enq + "01W11110000" + eot + enq + "01W10100011" + eot << read01
            << ack + "01R" + "10100011" + "05121023" + etx;
        QTest::newRow("loop-back is per board")
            << "" << enq + "01W11111111" + eot << read02 << reply02;
        QTest::newRow("fixed inputs ignore writes")
            << "10000001" << enq + "01W01111110" + eot << read01
            << ack + "01R" + "10000001" + "05121023" + etx;
    }
    void inputs() {
        QFETCH(QString, fixed);
        QFETCH(std::string, writes);
        QFETCH(std::string, read);
        QFETCH(std::string, reply);
        SimConfig config;
        if (!fixed.isEmpty())
            config.boards[0].fixedInputs = fixed.toStdString();
        Simulator sim(config);
        START_OR_SKIP(sim, path);
        LinePort port(path);
        QVERIFY(port.send(writes));
        QCOMPARE(port.receive(writes.size()).size(), writes.size()); // 13-byte echoes
        QVERIFY(port.send(read));
        QCOMPARE(port.receive(reply.size()), reply);
    }

    void rampWrapsWithinRange() {
        SimConfig config;
        config.boards[0].analogA = 1016;
        config.boards[0].analogB = 7;
        config.boards[0].ramp = true;
        Simulator sim(config);
        START_OR_SKIP(sim, path);
        LinePort port(path);
        for (const std::string readings : {"10160007", "00001023", "00081015"}) {
            QVERIFY(port.send(read01));
            QCOMPARE(port.receive(21), ack + "01R00000000" + readings + etx);
        }
    }

    void noAnswer_data() {
        QTest::addColumn<std::string>("behaviour");
        QTest::addColumn<std::string>("request");
        QTest::newRow("silent board") << "silent"s << read02;
        QTest::newRow("address not served") << "normal"s << enq + "09R" + eot;
        QTest::newRow("unknown command letter") << "normal"s << enq + "02X" + eot;
        QTest::newRow("read ending in ETX") << "normal"s << enq + "02R" + etx;
        QTest::newRow("write cut short") << "normal"s << enq + "02W1111" + eot;
        QTest::newRow("read interrupted by a new ENQ") << "normal"s << enq + "02";
    }
    void noAnswer() {
        QFETCH(std::string, behaviour);
        QFETCH(std::string, request);
        Simulator sim(withBehaviour(behaviour));
        START_OR_SKIP(sim, path);
        LinePort port(path);
        QVERIFY(port.send(request));
        QVERIFY(nextIsBoard01(port));
    }

    // Every other garbage reply ends in ETX; none holds ACK or an ETX inside,
    // so none can pass for a reply.
    void garbageNeverPassesForAReply() {
        Simulator sim(withBehaviour("garbage"));
        START_OR_SKIP(sim, path);
        LinePort port(path);
        for (std::size_t i = 0; i < 4; ++i) {
            QVERIFY(port.send(read02));
            QTRY_COMPARE(sim.frames().size(), 2 * i + 2);
            const auto sent = sim.frames().back().bytes;
            const auto got = port.receive(sent.size());
            QCOMPARE(got, sent);
            QVERIFY(got.size() >= 5 && got.size() <= 30);
            QVERIFY(got.find(kAck) == std::string::npos);
            QCOMPARE(got.find(kEtx), i % 2 == 0 ? got.size() - 1 : std::string::npos);
        }
    }

    // Five chunks of five bytes: four gaps of 60 ms before the last byte can
    // leave. Measured from the request, as a reader held up for a moment
    // finds two chunks waiting together.
    void splitReplyHasGaps() {
        Simulator sim(withBehaviour("split:5:60"));
        START_OR_SKIP(sim, path);
        LinePort port(path);
        const auto sentAt = Clock::now();
        QVERIFY(port.send(read02));
        QCOMPARE(port.receive(21), reply02);
        QVERIFY(port.lastByteAt - sentAt >= 240ms);
        QVERIFY(port.lastByteAt > port.firstByteAt);
    }

    // The panel asks another board while the late reply is still to come; the
    // late one lands after that answer.
    void lateReplyLandsAfterTheNextAnswer() {
        Simulator sim(withBehaviour("late:400"));
        START_OR_SKIP(sim, path);
        LinePort port(path);
        const auto sentAt = Clock::now();
        QVERIFY(port.send(read02));
        QVERIFY(nextIsBoard01(port));
        QCOMPARE(port.receive(21), reply02);
        QVERIFY(port.firstByteAt - sentAt >= 400ms);
    }

    void lineTime_data() {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("turnaroundMs");
        QTest::addColumn<std::string>("request");
        QTest::addColumn<std::string>("reply");
        QTest::addColumn<int>("atLeastMs");
        // 10 bits a byte: at 1200 bit/s 8.3 ms, so 5 + 21 or 13 + 13 bytes take 217 ms.
        QTest::newRow("read at 1200 takes at least 150 ms")
            << 1200 << 0 << read01 << reply01 << 150;
        QTest::newRow("write at 1200 takes at least 150 ms")
            << 1200 << 0 << enq + "01W00000001" + eot << ack + "01W00000001" + etx << 150;
        QTest::newRow("turnaround adds to line time") << 1200 << 200 << read01 << reply01 << 350;
        QTest::newRow("115200 batches and still sends all")
            << 115200 << 0 << read01 << reply01 << 0;
    }
    void lineTime() {
        QFETCH(int, baud);
        QFETCH(int, turnaroundMs);
        QFETCH(std::string, request);
        QFETCH(std::string, reply);
        QFETCH(int, atLeastMs);
        SimConfig config;
        config.baud = baud;
        config.turnaround = std::chrono::milliseconds(turnaroundMs);
        Simulator sim(config);
        START_OR_SKIP(sim, path);
        LinePort port(path);
        const auto sentAt = Clock::now();
        QVERIFY(port.send(request));
        QCOMPARE(port.receive(reply.size()), reply);
        QVERIFY(port.lastByteAt - sentAt >= std::chrono::milliseconds(atLeastMs));
        // Bytes leave one by one: 20 byte times (167 ms) from first to last,
        // less what a reader held up for a moment finds waiting together.
        if (baud == 1200 && reply.size() == 21)
            QVERIFY(port.lastByteAt - port.firstByteAt >= 80ms);
    }

    void frameRecord() {
        Simulator sim(withBehaviour("silent"));
        START_OR_SKIP(sim, path);
        LinePort port(path);
        const auto write02 = enq + "02W10000000" + eot;
        QVERIFY(port.send(write02 + enq + "09R" + eot)); // neither is answered
        QVERIFY(nextIsBoard01(port));
        QTRY_COMPARE(sim.frames().size(), std::size_t{4});
        const auto frames = sim.frames();
        const std::vector<std::tuple<Direction, std::string, std::string>> expected = {
            {Direction::Received, "02", write02},
            {Direction::Received, "09", enq + "09R" + eot},
            {Direction::Received, "01", read01},
            {Direction::Sent, "01", reply01},
        };
        for (std::size_t i = 0; i < expected.size(); ++i) {
            QCOMPARE(std::tie(frames[i].direction, frames[i].address, frames[i].bytes),
                     expected[i]);
            QVERIFY(i == 0 || frames[i].time >= frames[i - 1].time);
        }
        QCOMPARE(sim.outputs("02"), "10000000"s); // a silent board still takes the write
        sim.clearFrames();
        QVERIFY(sim.frames().empty());
    }

    void behaviourChangesWhileServing() {
        Simulator sim;
        START_OR_SKIP(sim, path);
        LinePort port(path);
        sim.setBehaviour("02", *parseBehaviour("silent"));
        QVERIFY(port.send(read02));
        QVERIFY(nextIsBoard01(port));
        sim.setBehaviour("02", {});
        sim.setInputs("02", "11000011");
        sim.setAnalog("02", 7, 4000);
        QVERIFY(port.send(read02));
        QCOMPARE(port.receive(21), ack + "02R1100001100074000" + etx);
        // Back to loop-back with output 1 wired to input 8 and input 2 stuck on.
        sim.setInputs("02", std::nullopt);
        sim.setCrossedInputs("02", {{1, 8}});
        sim.setStuckInputs("02", {{2, '1'}});
        QVERIFY(port.send(enq + "02W00000001" + eot + read02));
        QCOMPARE(port.receive(34), ack + "02W00000001" + etx + ack + "02R1000001000074000" + etx);
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, sim.setBehaviour("04", {}));
        // Chunks of no bytes would never finish the reply.
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                                 sim.setBehaviour("02", {BehaviourKind::Split, 10ms, 0}));
    }

    // The simulator holds the slave side itself, so the panel closing its
    // port does not end the line.
    void panelMayCloseAndReopen() {
        Simulator sim;
        START_OR_SKIP(sim, path);
        for (int i = 0; i < 3; ++i) {
            LinePort port(path);
            QVERIFY(nextIsBoard01(port));
            port.close();
            // Closed a while, as between two panel sessions, so a hang-up on
            // the line would be seen before the next open.
            std::this_thread::sleep_for(100ms);
        }
    }

    void hangUpLikeAPulledCable() {
        Simulator sim(withBehaviour("late:5000"));
        START_OR_SKIP(sim, path);
        LinePort port(path);
        QVERIFY(port.send(enq + "01W11110000" + eot));
        QCOMPARE(port.receive(13), ack + "01W11110000" + etx);
        QVERIFY(port.send(read02)); // a reply still to come must not hold up the hang-up

        const auto hungAt = Clock::now();
        sim.hangUp();
        QVERIFY(Clock::now() - hungAt < 2s);
        QVERIFY(!sim.serving());
        pollfd pfd{port.fd(), POLLIN, 0};
        QCOMPARE(::poll(&pfd, 1, 2000), 1);
        QVERIFY(pfd.revents & POLLHUP);
        QVERIFY(!LinePort(path).isOpen());

        // Plugged in again: a new line, and the boards kept their outputs.
        START_OR_SKIP(sim, newPath);
        LinePort again(newPath);
        QVERIFY(again.send(read01));
        QCOMPARE(again.receive(21), ack + "01R11110000" + "05121023" + etx);
    }

    // A device is any terminal opened by path; here the slave side of a
    // pseudo-terminal of the test's own, driven from its master.
    void servesOnDevice() {
        RIO_SKIP_WITHOUT_PSEUDO_TERMINAL();
        rio::test::PseudoTerminal device;
        QVERIFY2(device.isOpen(), qPrintable(device.problem()));
        LinePort panel(device.release());
        Simulator sim;
        sim.startOnDevice(device.path(), 9600);
        QVERIFY(nextIsBoard01(panel));
        QVERIFY_THROWS_EXCEPTION(std::logic_error, (void)sim.start());
    }
};

QTEST_APPLESS_MAIN(TestSimLine)
#include "test_sim_line.moc"
