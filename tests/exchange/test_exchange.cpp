// The read and write exchanges against the scripted port and a pump that
// counts, so every read of the port and every pump is accounted for.

#include "exchange/exchange.h"
#include "tests/support/fake_port.h"

#include <QTest>

#include <thread>

using namespace rio::exchange;
using rio::protocol::Bits;
using namespace std::string_literals;
using namespace std::chrono_literals;

namespace {

const std::string enq = "\x05", eot = "\x04", ack = "\x06", etx = "\x03";
using Lamps = std::array<bool, 8>;
const Lamps kAllDark{};
const QString kNoAnswer1 = QString::fromUtf8("#1 응답이 없습니다");

// What the exchange did to the board's part of the window, in order.
struct RecordingDisplay : BoardDisplay {
    QString status, readRequest, readReply, writeRequest, writeReply, analog1, analog2;
    std::array<bool, 8> lit{};
    QStringList statuses;
    std::function<void()> onStatus;

    void setStatus(const QString& text) override {
        status = text;
        statuses << text;
        if (onStatus)
            onStatus();
    }
    void showReadRequest(std::string_view f) override { readRequest = latin1(f); }
    void showReadReply(std::string_view f) override { readReply = latin1(f); }
    void showWriteRequest(std::string_view f) override { writeRequest = latin1(f); }
    void showWriteReply(std::string_view f) override { writeReply = latin1(f); }
    void showAnalog1(const QString& t) override { analog1 = t; }
    void showAnalog2(const QString& t) override { analog2 = t; }
    void setIndicator(int k, bool on) override { lit[std::size_t(k)] = on; }
    static QString latin1(std::string_view f) { return QString::fromLatin1(f.data(), f.size()); }
};

// Pumps without waiting; can run a handler inside a given pump, as a click or
// tick would run nested.
struct CountingPump : EventPump {
    int pumps = 0;
    int openWaits = 0;
    std::function<void(int pump)> during;
    void pumpOnce() override { run(); }
    void pumpUntil(Clock::time_point) override { run(); }
    void beginWait(std::chrono::microseconds) override { ++openWaits; }
    void endWait() override { --openWaits; }
    void run() {
        ++pumps;
        if (during)
            during(pumps);
    }
};

struct Rig {
    rio::test::FakePort port;
    Line line{port, std::make_unique<CountingPump>()};
    CountingPump& pump = static_cast<CountingPump&>(line.pump());
    RecordingDisplay display;
    std::int16_t &readBusy = line.readBusy(), &writeBusy = line.writeBusy();
    BoardState state;
    rio::protocol::BoardAddr& addr = state.address;
    Bits& out = state.outBits;
    std::optional<Bits>& in = state.inBits;
    std::string &adA = state.adRawA, &adB = state.adRawB;
    Board board(int number = 1) { return {.number = number, .display = &display, .state = &state}; }
    Rig() {
        line.speed() = 9600;
        state.address = "01";
        state.outBits.fill('0');
        port.setPortOpen(true);
    }
};

std::string readReply(const std::string& addr, const std::string& inputs, const std::string& a,
                      const std::string& b) {
    return ack + addr + "R" + inputs + a + b + etx;
}

} // namespace

class TestExchange : public QObject {
    Q_OBJECT
private slots:
    void goodReadShowsEverything() {
        Rig rig;
        rig.addr = "02";
        rig.port.queueInput(readReply("02", "00000011", "0100", "0200"));
        readBoard(rig.line, rig.board(2));
        QCOMPARE(rig.port.sent, std::vector<std::string>{enq + "02R" + eot});
        QCOMPARE(rig.display.readRequest, QString::fromLatin1("\x05"
                                                              "02R\x04"));
        QCOMPARE(rig.display.status, "#2 Read OK");
        QCOMPARE(rig.display.readReply.toLatin1(),
                 QByteArray::fromStdString(readReply("02", "00000011", "0100", "0200")));
        QCOMPARE(rig.in, std::optional(Bits{'1', '1', '0', '0', '0', '0', '0', '0'}));
        QCOMPARE(rig.display.lit, (std::array<bool, 8>{true, true}));
        QCOMPARE(rig.adA, "0100"s);
        QCOMPARE(rig.adB, "0200"s);
        QCOMPARE(rig.display.analog1, "100");
        QCOMPARE(rig.display.analog2, "200");
        QCOMPARE(rig.readBusy, 0);
        QCOMPARE(rig.pump.openWaits, 0);
    }

    void onlyExactlyOneLightsAnIndicator() {
        Rig rig;
        rig.display.lit.fill(true);
        rig.port.queueInput(readReply("01",
                                      "1 0a\xff"
                                      "1\0"s
                                      "1",
                                      "0512", "1023"));
        readBoard(rig.line, rig.board());
        // Position 12 is index 0: "1", then "\0", "1", "\xff", "a", "0", " ", "1".
        QCOMPARE(rig.display.lit,
                 (std::array<bool, 8>{true, false, true, false, false, false, false, true}));
        QCOMPARE(rig.display.status, "#1 Read OK");
    }

    void silentBoardIsReadExactly5000Times() {
        Rig rig;
        rig.display.readReply = "old reply";
        rig.display.analog1 = "512";
        rig.display.lit.fill(true);
        readBoard(rig.line, rig.board());
        QCOMPARE(rig.port.inputCalls, kPollLimit);
        // One pump before sending, one after, and 5001 in the wait: the last
        // pass pumps once more and then gives up.
        QCOMPARE(rig.pump.pumps, 2 + kPollLimit + 1);
        QCOMPARE(rig.display.status, kNoAnswer1);
        QVERIFY(rig.display.readReply.isEmpty());
        QVERIFY(rig.display.analog1.isEmpty());
        QCOMPARE(rig.display.lit, kAllDark);
        QCOMPARE(rig.display.readRequest, QString::fromLatin1("\x05"
                                                              "01R\x04")); // kept
        QCOMPARE(rig.readBusy, 0);
        QCOMPARE(rig.pump.openWaits, 0);
    }

    void splitReplyIsJoined() {
        Rig rig;
        const std::string reply = readReply("01", "10000001", "0512", "1023");
        rig.port.queueInput(reply.substr(0, 3));
        rig.port.queueInput("");
        rig.port.queueInput(reply.substr(3, 9));
        rig.port.queueInput(reply.substr(12));
        readBoard(rig.line, rig.board());
        QCOMPARE(rig.display.readReply.toLatin1(), QByteArray::fromStdString(reply));
        QCOMPARE(rig.port.inputCalls, 4);
        QCOMPARE(rig.display.analog2, "1023");
    }

    void twoRepliesArrivingTogetherAreJudgedAsOne() {
        // A late reply and the expected one arrive together after the request: one
        // string, too long to be a read reply, so it is an error, and nothing
        // older stays on show as if it were current.
        Rig rig;
        rig.display.readReply = "earlier";
        rig.display.analog1 = "7";
        rig.display.lit.fill(true);
        const std::string late = ack + "01W00000000" + etx;
        rig.port.queueInput(late + readReply("01", "11111111", "0001", "0002"));
        readBoard(rig.line, rig.board());
        QCOMPARE(rig.display.statuses, (QStringList{"#1 Read OK", "#1 Read Error"}));
        QVERIFY(rig.display.readReply.isEmpty());
        QVERIFY(rig.display.analog1.isEmpty());
        QCOMPARE(rig.display.lit, kAllDark);
        QVERIFY(!rig.in.has_value());
        QCOMPARE(rig.readBusy, 0);
    }

    void rejectedReadRepliesEndAsErrors_data() {
        QTest::addColumn<std::string>("reply");
        QTest::newRow("22 bytes, ETX at 21") << readReply("01", "10000001", "0512", "1023") + "x";
        QTest::newRow("ETX at 20") << ack + "01R10000001051210"s + etx;
        QTest::newRow("NAK first") << "\x15"
                                      "01R1000000105121023"s +
                                          etx;
        QTest::newRow("W for R") << ack + "01W1000000105121023"s + etx;
        QTest::newRow("lone ETX") << etx;
    }
    void rejectedReadRepliesEndAsErrors() {
        QFETCH(std::string, reply);
        Rig rig;
        rig.display.readReply = "earlier";
        rig.display.analog2 = "9";
        rig.port.queueInput(reply);
        readBoard(rig.line, rig.board());
        QCOMPARE(rig.display.status, "#1 Read Error");
        QVERIFY(rig.display.readReply.isEmpty());
        QVERIFY(rig.display.analog2.isEmpty());
        QCOMPARE(rig.readBusy, 0);
    }

    void analogLettersTakeTheNoAnswerPath() {
        Rig rig;
        rig.port.queueInput(readReply("01", "00000011", "ABCD", "0200"));
        readBoard(rig.line, rig.board());
        QCOMPARE(rig.display.statuses, (QStringList{"#1 Read OK", kNoAnswer1}));
        QVERIFY(rig.display.readReply.isEmpty());
        QVERIFY(rig.display.analog1.isEmpty());
        QVERIFY(rig.display.analog2.isEmpty());
        QCOMPARE(rig.display.lit, kAllDark);
        // The decoded inputs and fields stay as taken.
        QCOMPARE(rig.in, std::optional(Bits{'1', '1', '0', '0', '0', '0', '0', '0'}));
        QCOMPARE(rig.adA, "ABCD"s);
        QCOMPARE(rig.readBusy, 0);

        Rig second;
        second.port.queueInput(readReply("01", "00000000", "0100", "12A4"));
        readBoard(second.line, second.board());
        QCOMPARE(second.display.status, kNoAnswer1);
        QVERIFY(second.display.analog1.isEmpty());
    }

    void closedPortGoesStraightToTheErrorPath() {
        Rig rig;
        rig.port.setPortOpen(false);
        rig.display.writeReply = "earlier";
        readBoard(rig.line, rig.board());
        QCOMPARE(rig.display.status, kNoAnswer1);
        QCOMPARE(rig.readBusy, 0);
        writeBoard(rig.line, rig.board());
        QCOMPARE(rig.display.status, kNoAnswer1);
        QVERIFY(rig.display.writeReply.isEmpty());
        QCOMPARE(rig.writeBusy, 0);
        QVERIFY(rig.port.sent.empty());
        QCOMPARE(rig.port.inputCalls, 0);
    }

    void portLostDuringTheWait() {
        Rig rig;
        rig.pump.during = [&](int pump) {
            if (pump == 10)
                rig.port.setPortOpen(false); // the cable is pulled
        };
        readBoard(rig.line, rig.board());
        QCOMPARE(rig.display.status, kNoAnswer1);
        QVERIFY(rig.port.inputCalls < 10);
        QCOMPARE(rig.readBusy, 0);
        QCOMPARE(rig.pump.openWaits, 0);
    }

    void writeSendsTheOutputsAndShowsTheReply() {
        Rig rig;
        rig.addr = "03";
        rig.out[0] = '1';
        const std::string reply = ack + "03W00000001" + etx + "z";
        rig.port.queueInput(reply);
        writeBoard(rig.line, rig.board(3));
        QCOMPARE(rig.port.sent, std::vector<std::string>{enq + "03W00000001" + eot});
        QCOMPARE(rig.display.writeRequest.toLatin1(),
                 QByteArray::fromStdString(enq + "03W00000001" + eot));
        QCOMPARE(rig.display.status, "#3 Write OK");
        QCOMPARE(rig.display.writeReply.toLatin1(), QByteArray::fromStdString(reply));
        QCOMPARE(rig.writeBusy, 0);
    }

    void writeReplyWithEtxAt12EndsAsAnError() {
        Rig rig;
        rig.display.writeReply = "earlier";
        rig.port.queueInput(ack + "03W0000000" + etx);
        writeBoard(rig.line, rig.board(3));
        QCOMPARE(rig.display.statuses, (QStringList{"#3 Write OK", "#3 Write Error"}));
        QVERIFY(rig.display.writeReply.isEmpty());
        QCOMPARE(rig.writeBusy, 0);
    }

    void silentWriteClearsOnlyItsReplyBox() {
        Rig rig;
        rig.display.writeReply = "earlier";
        rig.display.readReply = "kept";
        rig.display.lit.fill(true);
        writeBoard(rig.line, rig.board());
        QCOMPARE(rig.port.inputCalls, kPollLimit);
        QCOMPARE(rig.display.status, kNoAnswer1);
        QVERIFY(rig.display.writeReply.isEmpty());
        QCOMPARE(rig.display.readReply, "kept");
        QCOMPARE(rig.display.lit[3], true);
        QCOMPARE(rig.writeBusy, 0);
    }

    // A reply that came after its exchange gave up is dropped before the next
    // request goes out, so it is never taken as that request's reply.
    void staleReplyIsDroppedBeforeTheRequest_data() {
        QTest::addColumn<bool>("write");
        QTest::newRow("read") << false;
        QTest::newRow("write") << true;
    }
    void staleReplyIsDroppedBeforeTheRequest() {
        QFETCH(bool, write);
        Rig rig;
        std::string analog = "0001";
        rig.port.respond = [&](const std::string& request) {
            return request[3] == 'R' ? readReply("01", "00000000", analog, analog)
                                     : ack + "01W" + request.substr(4, 8) + etx;
        };
        rig.port.replyDelay = 20ms; // past this pump's whole wait
        const auto exchange = [&] {
            write ? writeBoard(rig.line, rig.board()) : readBoard(rig.line, rig.board());
        };
        exchange();
        QCOMPARE(rig.display.status, kNoAnswer1);
        std::this_thread::sleep_for(30ms); // the first reply is now waiting on the line

        analog = "0002";
        rig.out[0] = '1';
        rig.port.replyDelay = 0ms;
        exchange();
        QCOMPARE(rig.port.discards, 2);
        if (write) {
            QCOMPARE(rig.display.status, "#1 Write OK");
            QCOMPARE(rig.display.writeReply, QString::fromLatin1("\x06"
                                                                 "01W00000001\x03"));
        } else {
            QCOMPARE(rig.display.status, "#1 Read OK");
            QCOMPARE(rig.display.analog1, "2");
        }
    }

    // A flood is read and dropped past the first 4096 bytes, and the ETX at
    // its end still ends the wait.
    void floodedReplyIsCutButEndsAtItsEtx() {
        Rig rig;
        for (int i = 0; i < 100; ++i)
            rig.port.queueInput(std::string(1000, 'x'));
        rig.port.queueInput("tail" + etx);
        std::string reply;
        QCOMPARE(collectReply(rig.line, reply), Outcome::Complete);
        QCOMPARE(rig.port.inputCalls, 101);
        QCOMPARE(reply.size(), std::size_t(4096));
        QCOMPARE(reply, std::string(4096, 'x'));
    }

    void flagsAndPumpsInTheirOrder() {
        // Read: the flag is cleared before the status is set, and it pumps
        // between building and sending.
        Rig rig;
        std::vector<int> flagAtStatus;
        rig.display.onStatus = [&] { flagAtStatus.push_back(rig.readBusy * 10 + rig.writeBusy); };
        std::vector<std::size_t> sentAtPump;
        rig.pump.during = [&](int) { sentAtPump.push_back(rig.port.sent.size()); };
        rig.port.queueInput(readReply("01", "00000000", "0000", "0000"));
        readBoard(rig.line, rig.board());
        QCOMPARE(flagAtStatus, std::vector<int>{0});
        QCOMPARE(sentAtPump.front(), std::size_t(0)); // pumped before sending

        // Write: the status is set while the flag is still up, and nothing is
        // pumped between building and sending.
        flagAtStatus.clear();
        sentAtPump.clear();
        rig.port.queueInput(ack + "01W00000000" + etx);
        writeBoard(rig.line, rig.board());
        QCOMPARE(flagAtStatus, std::vector<int>{1});
        QCOMPARE(sentAtPump.front(), std::size_t(2));
    }

    void busyLineRefusesAtOnce_data() {
        QTest::addColumn<int>("readBusy");
        QTest::addColumn<int>("writeBusy");
        QTest::newRow("read in flight") << 1 << 0;
        QTest::newRow("write in flight") << 0 << 1;
    }
    void busyLineRefusesAtOnce() {
        QFETCH(int, readBusy);
        QFETCH(int, writeBusy);
        Rig rig;
        rig.readBusy = std::int16_t(readBusy);
        rig.writeBusy = std::int16_t(writeBusy);
        readBoard(rig.line, rig.board());
        writeBoard(rig.line, rig.board());
        QVERIFY(rig.port.sent.empty());
        QCOMPARE(rig.pump.pumps, 0);
        QVERIFY(rig.display.statuses.isEmpty());
        QCOMPARE(rig.readBusy, readBusy);
        QCOMPARE(rig.writeBusy, writeBusy);
    }

    void refusingLineStartsNothing() {
        // How riopoll stops: the flags stay as they are, nothing is sent,
        // pumped or shown.
        Rig rig;
        rig.line.refuseExchanges();
        readBoard(rig.line, rig.board());
        writeBoard(rig.line, rig.board());
        QVERIFY(rig.port.sent.empty());
        QCOMPARE(rig.pump.pumps, 0);
        QVERIFY(rig.display.statuses.isEmpty());
        QCOMPARE(rig.readBusy, 0);
        QCOMPARE(rig.writeBusy, 0);
    }

    void nestedExchangeDuringAWaitIsRefused() {
        // A tick handled inside the wait finds the line claimed.
        Rig rig;
        RecordingDisplay other;
        Board second = rig.board(2);
        second.display = &other;
        rig.pump.during = [&](int pump) {
            if (pump == 100) {
                readBoard(rig.line, second);
                writeBoard(rig.line, second);
            }
        };
        rig.port.replyDelay = std::chrono::milliseconds(0);
        for (int i = 0; i < 150; ++i)
            rig.port.queueInput("");
        rig.port.queueInput(readReply("01", "00000000", "0000", "0000"));
        readBoard(rig.line, rig.board());
        QCOMPARE(rig.port.sent.size(), std::size_t(1));
        QVERIFY(other.statuses.isEmpty());
        QCOMPARE(rig.display.status, "#1 Read OK");
    }

    void waitFitsTheLine_data() {
        QTest::addColumn<int>("speed");
        QTest::newRow("1200") << 1200;
        QTest::newRow("2400") << 2400;
        QTest::newRow("9600") << 9600;
        QTest::newRow("19200") << 19200;
        QTest::newRow("115200") << 115200;
    }
    void waitFitsTheLine() {
        // Long enough for 26 bytes of line time plus a board that takes 20 ms
        // to start its reply, whatever the speed; a silent board at 9600
        // costs no more than a quarter of a second.
        QFETCH(int, speed);
        const auto lineTime = std::chrono::microseconds(26LL * 10 * 1'000'000 / speed);
        QVERIFY(waitBudget(speed) >= lineTime + std::chrono::milliseconds(20));
        if (speed == 9600)
            QVERIFY(waitBudget(speed) <= std::chrono::milliseconds(250));
    }
};

QTEST_GUILESS_MAIN(TestExchange)
#include "test_exchange.moc"
