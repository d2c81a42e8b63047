// The simulator's text handling, in-process: requests cut out of a byte
// stream, behaviour names, the command line and the log's frame text. Frames
// are written out by hand.
#include "sim/log_line.h"
#include "sim/request_parser.h"
#include "sim/sim_options.h"

#include <QTest>

using namespace rio::sim;
using namespace std::string_literals;
using namespace std::chrono_literals;

using Strings = std::vector<std::string>;
Q_DECLARE_METATYPE(Strings)

namespace {

const std::string enq = "\x05", eot = "\x04", etx = "\x03";
const std::string read01 = enq + "01R" + eot, read02 = enq + "02R" + eot;

std::string req(const std::string& bytes) {
    return "request " + bytes;
}
std::string ign(const std::string& bytes) {
    return "ignored " + bytes;
}

std::optional<Options> parse(const Strings& args) {
    return parseOptions(args).options;
}

} // namespace

class TestSimParsing : public QObject {
    Q_OBJECT
private slots:
    void requestsFromStream_data() {
        QTest::addColumn<Strings>("chunks");
        QTest::addColumn<Strings>("events");
        const auto write01 = enq + "01W10100001" + eot;
        QTest::newRow("read byte by byte")
            << Strings{enq, "0", "1", "R", eot} << Strings{req(read01)};
        QTest::newRow("write over three reads")
            << Strings{enq + "01", "W1010", "0001" + eot} << Strings{req(write01)};
        QTest::newRow("two requests in one read")
            << Strings{read01 + write01} << Strings{req(read01), req(write01)};
        QTest::newRow("garbage before ENQ dropped")
            << Strings{"z\0\xff"s + read02} << Strings{ign("z\0\xff"s), req(read02)};
        QTest::newRow("new ENQ interrupts the states, over two reads")
            << Strings{enq + "01W0101", read01} << Strings{ign(enq + "01W0101"), req(read01)};
        QTest::newRow("unknown letter dropped at once, resync after")
            << Strings{enq + "01X" + eot + read01}
            << Strings{ign(enq + "01X"), ign(eot), req(read01)};
        QTest::newRow("lower-case r is unknown")
            << Strings{enq + "01r" + eot} << Strings{ign(enq + "01r"), ign(eot)};
        QTest::newRow("read ending in ETX")
            << Strings{enq + "01R" + etx} << Strings{ign(enq + "01R" + etx)};
        QTest::newRow("write with nine states")
            << Strings{enq + "01W101000011" + eot} << Strings{ign(enq + "01W101000011"), ign(eot)};
        QTest::newRow("write cut short by EOT, next read answered")
            << Strings{enq + "01W101" + eot, read01}
            << Strings{ign(enq + "01W101" + eot), req(read01)};
        QTest::newRow("half a request waits for the rest") << Strings{enq + "01W1"} << Strings{};
    }
    void requestsFromStream() {
        QFETCH(Strings, chunks);
        QFETCH(Strings, events);
        RequestParser parser;
        Strings seen;
        for (const auto& chunk : chunks) {
            for (const auto& event : parser.feed(chunk))
                seen.push_back(event.kind == ParseEvent::Kind::Request ? req(event.request.bytes)
                                                                       : ign(event.ignored));
        }
        QCOMPARE(seen, events);
    }

    // The line engine times each request from where its last byte sat in the
    // read, so the offsets must point just past it.
    void requestFieldsAndEnds() {
        RequestParser parser;
        const auto events = parser.feed("zz" + read01 + enq + "02W10110000" + eot);
        QCOMPARE(events.size(), std::size_t{3});
        QCOMPARE(events[1].end, std::size_t{7});
        QCOMPARE(events[2].end, std::size_t{20});
        QCOMPARE(events[1].request.command, 'R');
        QCOMPARE(events[2].request.address, "02"s);
        QCOMPARE(events[2].request.command, 'W');
        QCOMPARE(events[2].request.states, "10110000"s);
    }

    void behaviourNames_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("waitMs");
        QTest::addColumn<int>("chunk");
        QTest::newRow("delay:250") << "delay:250" << true << 250 << 0;
        QTest::newRow("split:4:30") << "split:4:30" << true << 30 << 4;
        QTest::newRow("late alone waits 600") << "late" << true << 600 << 0;
        QTest::newRow("etx-moved") << "etx-moved" << true << 0 << 0;
        QTest::newRow("delay with unit") << "delay:5ms" << false << 0 << 0;
        QTest::newRow("split of zero bytes") << "split:0:10" << false << 0 << 0;
        QTest::newRow("argument to silent") << "silent:5" << false << 0 << 0;
        QTest::newRow("intermittent every 0th") << "intermittent:0" << false << 0 << 0;
    }
    void behaviourNames() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, waitMs);
        QFETCH(int, chunk);
        const auto behaviour = parseBehaviour(text.toStdString());
        QCOMPARE(behaviour.has_value(), valid);
        if (valid) {
            QCOMPARE(behaviour->wait, std::chrono::milliseconds(waitMs));
            QCOMPARE(behaviour->chunkSize, std::size_t(chunk));
        }
    }

    void commandLineRejected_data() {
        QTest::addColumn<Strings>("args");
        QTest::newRow("unknown flag") << Strings{"--speed", "9600"};
        QTest::newRow("four boards") << Strings{"--boards", "01,02,03,04"};
        QTest::newRow("behaviour for a board not served")
            << Strings{"--boards", "01", "--behaviour", "02=silent"};
        QTest::newRow("seven inputs") << Strings{"--inputs", "01=1000000"};
        QTest::newRow("analog of five digits") << Strings{"--analog", "01=10000,5"};
        QTest::newRow("stuck input 0") << Strings{"--stuck", "01=0:1"};
        QTest::newRow("stuck at 2") << Strings{"--stuck", "01=1:2"};
        QTest::newRow("cross with an output twice") << Strings{"--cross", "01=1>2,1>3"};
        QTest::newRow("cross on fixed inputs")
            << Strings{"--inputs", "01=10000001", "--cross", "01=1>2"};
    }
    void commandLineRejected() {
        QFETCH(Strings, args);
        QVERIFY(!parse(args));
    }

    // A wait is taken whole up to a year, and refused beyond with the limit:
    // replies are timed in nanoseconds, which 2^63 ns (292 years) ends.
    void waitsUpToAYear_data() {
        QTest::addColumn<Strings>("args");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<qint64>("waitMs"); // board 01's turnaround and delay together
        QTest::newRow("turnaround of 30 days")
            << Strings{"--turnaround", "2592000000"} << true << Q_INT64_C(2592000000);
        QTest::newRow("delay of a year")
            << Strings{"--behaviour", "01=delay:31536000000"} << true << Q_INT64_C(31536000000);
        QTest::newRow("delay of 9223372036854 ms")
            << Strings{"--behaviour", "01=delay:9223372036854"} << false << Q_INT64_C(0);
        QTest::newRow("late a millisecond over a year")
            << Strings{"--behaviour", "01=late:31536000001"} << false << Q_INT64_C(0);
        QTest::newRow("split chunks a millisecond over a year apart")
            << Strings{"--behaviour", "01=split:1:31536000001"} << false << Q_INT64_C(0);
        QTest::newRow("turnaround a millisecond over a year")
            << Strings{"--turnaround", "31536000001"} << false << Q_INT64_C(0);
    }
    void waitsUpToAYear() {
        QFETCH(Strings, args);
        QFETCH(bool, accepted);
        QFETCH(qint64, waitMs);
        const ParsedOptions parsed = parseOptions(args);
        QCOMPARE(parsed.options.has_value(), accepted);
        if (!accepted) {
            QVERIFY2(parsed.error.find("at most 31536000000") != std::string::npos,
                     parsed.error.c_str());
            return;
        }
        const SimConfig& config = parsed.options->config;
        QCOMPARE(config.turnaround + config.boards[0].behaviour.wait,
                 std::chrono::milliseconds(waitMs));
    }

    // A refusal quotes a short, escaped excerpt of what it refuses.
    void refusalQuotesAnExcerpt_data() {
        QTest::addColumn<Strings>("args");
        QTest::addColumn<QString>("says");
        QTest::newRow("option name of 1 MB")
            << Strings{"--" + std::string(1'000'000, 'x')}
            << "unknown option --" + QString(38, 'x') + "... (1000002 bytes)";
        QTest::newRow("inputs with a terminal control")
            << Strings{"--inputs", "01=\x1b[2J"} << "not '<1B>[2J'";
    }
    void refusalQuotesAnExcerpt() {
        QFETCH(Strings, args);
        QFETCH(QString, says);
        const ParsedOptions parsed = parseOptions(args);
        QVERIFY(!parsed.options);
        const QString error = QString::fromStdString(parsed.error);
        QVERIFY2(error.contains(says), qPrintable(error.left(200)));
        QVERIFY2(error.size() < 200, qPrintable(error.left(200)));
        QVERIFY2(!error.contains(QChar(0x1b)), qPrintable(error.left(200)));
    }

    // Per-board flags may come before --boards: they wait for the addresses.
    void commandLineSettings() {
        const auto options =
            parse({"--behaviour=03=delay:40", "--inputs", "07=10000001", "--analog", "03=1,9999",
                   "--boards", "07,03", "--ramp", "--baud", "1200", "--turnaround", "15", "--stuck",
                   "07=1:0,8:1", "--cross=03=1>2,2>1", "--behaviour", "07=intermittent:5"});
        QVERIFY(options);
        const auto& boards = options->config.boards;
        QCOMPARE(boards.size(), std::size_t{2});
        QCOMPARE(boards[0].address, "07"s);
        QCOMPARE(boards[0].fixedInputs, std::optional("10000001"s));
        QVERIFY(!boards[1].fixedInputs); // loop-back
        QCOMPARE(boards[1].behaviour.kind, BehaviourKind::Delay);
        QCOMPARE(boards[1].analogB, 9999);
        QVERIFY(boards[0].ramp && boards[1].ramp);
        QCOMPARE(options->config.baud, 1200);
        QCOMPARE(options->config.turnaround, 15ms);
        QCOMPARE(boards[0].stuckInputs.size(), std::size_t{2});
        QCOMPARE(boards[0].stuckInputs[0].input, 1);
        QCOMPARE(boards[0].stuckInputs[0].state, '0');
        QCOMPARE(boards[0].stuckInputs[1].input, 8);
        QCOMPARE(boards[0].stuckInputs[1].state, '1');
        QCOMPARE(boards[1].crossedInputs.size(), std::size_t{2});
        QCOMPARE(boards[1].crossedInputs[0].output, 1);
        QCOMPARE(boards[1].crossedInputs[0].input, 2);
        QCOMPARE(boards[1].crossedInputs[1].output, 2);
        QCOMPARE(boards[1].crossedInputs[1].input, 1);
        QCOMPARE(boards[0].behaviour.kind, BehaviourKind::Intermittent);
        QCOMPARE(boards[0].behaviour.every, std::size_t{5});
        // On a device the UART takes the line time, so --baud is only its speed.
        const auto device = parse({"--device", "/dev/ttyS0", "--baud", "19200"});
        QCOMPARE(device->deviceBaud, 19200);
        QCOMPARE(device->config.baud, 0);
    }

    void logLineLayout() {
        QCOMPARE(logLine(12'345'678ns, "<-", "01", enq + "01R" + eot),
                 "    12.346 <- 01 <ENQ>01R<EOT>"s);
        QCOMPARE(logLine(0ns, "->", "02",
                         "\x15\x06"
                         "0~\0\x7f\xff"s +
                             etx),
                 "     0.000 -> 02 <NAK><ACK>0~<00><7F><FF><ETX>"s);
    }
};

QTEST_APPLESS_MAIN(TestSimParsing)
#include "test_sim_parsing.moc"
