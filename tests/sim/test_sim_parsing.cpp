// The simulator's text handling, in-process: requests cut out of a byte
// stream, behaviour names, the command line and the log's frame text. Frames
// are written out by hand.
#include "frame_text.h"
#include "options.h"
#include "request_parser.h"

#include <QTest>

using namespace rio::sim;
using namespace std::string_literals;
using namespace std::chrono_literals;

using Strings = std::vector<std::string>;
Q_DECLARE_METATYPE(Strings)
Q_DECLARE_METATYPE(std::string)
Q_DECLARE_METATYPE(rio::sim::BehaviourKind)

namespace {

const std::string enq = "\x05", eot = "\x04", etx = "\x03";

std::string req(const std::string& bytes) {
    return "request " + bytes;
}
std::string ign(const std::string& bytes) {
    return "ignored " + bytes;
}

Strings parseAll(const Strings& chunks) {
    RequestParser parser;
    Strings seen;
    for (const auto& chunk : chunks) {
        for (const auto& event : parser.feed(chunk)) {
            seen.push_back(event.kind == ParseEvent::Kind::Request ? req(event.request.bytes)
                                                                   : ign(event.ignored));
        }
    }
    return seen;
}

std::optional<Options> parse(const QStringList& args) {
    Strings plain;
    for (const auto& arg : args)
        plain.push_back(arg.toStdString());
    return parseOptions(plain).options;
}

} // namespace

class TestSimParsing : public QObject {
    Q_OBJECT
private slots:
    void requestsFromStream_data() {
        QTest::addColumn<Strings>("chunks");
        QTest::addColumn<Strings>("events");
        const auto read01 = enq + "01R" + eot;
        const auto read02 = enq + "02R" + eot;
        const auto write01 = enq + "01W10100001" + eot;

        QTest::newRow("read in one piece") << Strings{read01} << Strings{req(read01)};
        QTest::newRow("write in one piece") << Strings{write01} << Strings{req(write01)};
        QTest::newRow("read byte by byte")
            << Strings{enq, "0", "1", "R", eot} << Strings{req(read01)};
        QTest::newRow("write over three reads")
            << Strings{enq + "01", "W1010", "0001" + eot} << Strings{req(write01)};
        QTest::newRow("two requests in one read")
            << Strings{read01 + write01} << Strings{req(read01), req(write01)};
        QTest::newRow("garbage before ENQ dropped")
            << Strings{"zz\xff"s + read02} << Strings{ign("zz\xff"), req(read02)};
        QTest::newRow("NUL bytes between requests dropped")
            << Strings{read01 + "\0\0"s + read02}
            << Strings{req(read01), ign("\0\0"s), req(read02)};
        QTest::newRow("new ENQ interrupts the address")
            << Strings{enq + "0" + read02} << Strings{ign(enq + "0"), req(read02)};
        QTest::newRow("new ENQ interrupts the states, over two reads")
            << Strings{enq + "01W0101", read01} << Strings{ign(enq + "01W0101"), req(read01)};
        QTest::newRow("unknown letter dropped at once, resync after")
            << Strings{enq + "01X" + eot + read01}
            << Strings{ign(enq + "01X"), ign(eot), req(read01)};
        QTest::newRow("lower-case r is unknown")
            << Strings{enq + "01r" + eot} << Strings{ign(enq + "01r"), ign(eot)};
        QTest::newRow("read ending in ETX")
            << Strings{enq + "01R" + etx} << Strings{ign(enq + "01R" + etx)};
        QTest::newRow("write ending in ETX")
            << Strings{enq + "01W10100001" + etx} << Strings{ign(enq + "01W10100001" + etx)};
        QTest::newRow("write with nine states")
            << Strings{enq + "01W101000011" + eot} << Strings{ign(enq + "01W101000011"), ign(eot)};
        QTest::newRow("write cut short by EOT, next read answered")
            << Strings{enq + "01W101" + eot, read01}
            << Strings{ign(enq + "01W101" + eot), req(read01)};
        QTest::newRow("half a request waits for the rest") << Strings{enq + "01W1"} << Strings{};
        QTest::newRow("EOT as an address byte is kept")
            << Strings{enq + eot + "1R" + eot} << Strings{req(enq + eot + "1R" + eot)};
    }
    void requestsFromStream() {
        QFETCH(Strings, chunks);
        QFETCH(Strings, events);
        QCOMPARE(parseAll(chunks), events);
    }

    void requestFields() {
        RequestParser parser;
        const auto events = parser.feed(enq + "02W10110000" + eot + enq + "03R" + eot);
        QCOMPARE(events.size(), std::size_t{2});
        QCOMPARE(events[0].request.address, "02"s);
        QCOMPARE(events[0].request.command, 'W');
        QCOMPARE(events[0].request.states, "10110000"s);
        QCOMPARE(events[1].request.address, "03"s);
        QCOMPARE(events[1].request.command, 'R');
        QCOMPARE(events[1].request.states, ""s);
    }

    // The line engine times each request from where its last byte sat in the
    // read, so the offsets must point just past it.
    void eventEndsWithinRead() {
        RequestParser parser;
        const auto events = parser.feed("zz" + enq + "01R" + eot + enq + "01W00000000" + eot);
        QCOMPARE(events.size(), std::size_t{3});
        QCOMPARE(events[0].end, std::size_t{2});
        QCOMPARE(events[1].end, std::size_t{7});
        QCOMPARE(events[2].end, std::size_t{20});
    }

    void behaviourNames_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<BehaviourKind>("kind");
        QTest::addColumn<int>("waitMs");
        QTest::addColumn<int>("chunk");
        QTest::newRow("normal") << "normal" << true << BehaviourKind::Normal << 0 << 0;
        QTest::newRow("silent") << "silent" << true << BehaviourKind::Silent << 0 << 0;
        QTest::newRow("delay:250") << "delay:250" << true << BehaviourKind::Delay << 250 << 0;
        QTest::newRow("split:4:30") << "split:4:30" << true << BehaviourKind::Split << 30 << 4;
        QTest::newRow("bad-ack") << "bad-ack" << true << BehaviourKind::BadAck << 0 << 0;
        QTest::newRow("bad-command")
            << "bad-command" << true << BehaviourKind::BadCommand << 0 << 0;
        QTest::newRow("etx-moved") << "etx-moved" << true << BehaviourKind::EtxMoved << 0 << 0;
        QTest::newRow("extra-byte") << "extra-byte" << true << BehaviourKind::ExtraByte << 0 << 0;
        QTest::newRow("garbage") << "garbage" << true << BehaviourKind::Garbage << 0 << 0;
        QTest::newRow("late alone waits 600") << "late" << true << BehaviourKind::Late << 600 << 0;
        QTest::newRow("late:900") << "late:900" << true << BehaviourKind::Late << 900 << 0;
        QTest::newRow("delay without time") << "delay" << false << BehaviourKind::Normal << 0 << 0;
        QTest::newRow("delay with empty time")
            << "delay:" << false << BehaviourKind::Normal << 0 << 0;
        QTest::newRow("negative delay") << "delay:-5" << false << BehaviourKind::Normal << 0 << 0;
        QTest::newRow("delay with unit") << "delay:5ms" << false << BehaviourKind::Normal << 0 << 0;
        QTest::newRow("split without gap") << "split:4" << false << BehaviourKind::Normal << 0 << 0;
        QTest::newRow("split of zero bytes")
            << "split:0:10" << false << BehaviourKind::Normal << 0 << 0;
        QTest::newRow("argument to silent")
            << "silent:5" << false << BehaviourKind::Normal << 0 << 0;
        QTest::newRow("capitalised") << "Silent" << false << BehaviourKind::Normal << 0 << 0;
        QTest::newRow("empty") << "" << false << BehaviourKind::Normal << 0 << 0;
    }
    void behaviourNames() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(BehaviourKind, kind);
        QFETCH(int, waitMs);
        QFETCH(int, chunk);
        const auto behaviour = parseBehaviour(text.toStdString());
        QCOMPARE(behaviour.has_value(), valid);
        if (!valid)
            return;
        QCOMPARE(behaviour->kind, kind);
        QCOMPARE(behaviour->wait, std::chrono::milliseconds(waitMs));
        QCOMPARE(behaviour->chunkSize, std::size_t(chunk));
    }

    void commandLineRejected_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("unknown flag") << QStringList{"--speed", "9600"};
        QTest::newRow("baud without value") << QStringList{"--baud"};
        QTest::newRow("baud zero") << QStringList{"--baud", "0"};
        QTest::newRow("four boards") << QStringList{"--boards", "01,02,03,04"};
        QTest::newRow("three-character address") << QStringList{"--boards", "001"};
        QTest::newRow("address twice") << QStringList{"--boards", "01,01"};
        QTest::newRow("behaviour for a board not served")
            << QStringList{"--boards", "01", "--behaviour", "02=silent"};
        QTest::newRow("unknown behaviour") << QStringList{"--behaviour", "01=sleepy"};
        QTest::newRow("behaviour without address") << QStringList{"--behaviour", "silent"};
        QTest::newRow("seven inputs") << QStringList{"--inputs", "01=1000000"};
        QTest::newRow("inputs not 0 or 1") << QStringList{"--inputs", "01=1000000x"};
        QTest::newRow("one analog reading") << QStringList{"--analog", "01=512"};
        QTest::newRow("analog of five digits") << QStringList{"--analog", "01=10000,5"};
        QTest::newRow("log with a value") << QStringList{"--log=yes"};
    }
    void commandLineRejected() {
        QFETCH(QStringList, args);
        QVERIFY(!parse(args));
    }

    void commandLineDefaults() {
        const auto options = parse({});
        QVERIFY(options);
        QCOMPARE(options->config.boards.size(), std::size_t{3});
        QCOMPARE(options->config.boards[2].address, "03"s);
        for (const auto& board : options->config.boards) {
            QVERIFY(!board.fixedInputs); // loop-back
            QVERIFY(!board.ramp);
            QCOMPARE(board.behaviour.kind, BehaviourKind::Normal);
        }
        QCOMPARE(options->config.baud, 0);
        QVERIFY(options->device.empty());
        QVERIFY(!options->log);
    }

    void commandLineSettings() {
        const auto options = parse({"--boards", "07,03", "--behaviour=03=delay:40", "--inputs",
                                    "07=10000001", "--analog", "03=1,9999", "--ramp", "--baud",
                                    "1200", "--turnaround", "15", "--log"});
        QVERIFY(options);
        const auto& boards = options->config.boards;
        QCOMPARE(boards.size(), std::size_t{2});
        QCOMPARE(boards[0].address, "07"s);
        QCOMPARE(boards[0].fixedInputs, std::optional("10000001"s));
        QCOMPARE(boards[1].behaviour.kind, BehaviourKind::Delay);
        QCOMPARE(boards[1].behaviour.wait, 40ms);
        QCOMPARE(boards[1].analogA, 1);
        QCOMPARE(boards[1].analogB, 9999);
        QVERIFY(boards[0].ramp && boards[1].ramp);
        QCOMPARE(options->config.baud, 1200);
        QCOMPARE(options->config.turnaround, 15ms);
        QVERIFY(options->log);
    }

    // On a device the UART takes the line time, so --baud is only its speed.
    void baudOnDeviceIsItsSpeed() {
        const auto options = parse({"--device", "/dev/ttyS0", "--baud", "19200"});
        QVERIFY(options);
        QCOMPARE(options->deviceBaud, 19200);
        QCOMPARE(options->config.baud, 0);
        QCOMPARE(parse({"--device", "/dev/ttyS0"})->deviceBaud, 9600);
    }

    void frameText_data() {
        QTest::addColumn<std::string>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("read request") << enq + "01R" + eot << "<ENQ>01R<EOT>";
        QTest::newRow("read reply")
            << "\x06"s + "01R1000000105121023" + etx << "<ACK>01R1000000105121023<ETX>";
        QTest::newRow("NAK named") << "\x15"s
                                   << "<NAK>";
        QTest::newRow("NUL, DEL and 0xFF in hex") << "\0\x7f\xff"s
                                                  << "<00><7f><ff>";
        QTest::newRow("space and tilde printable") << " ~"s
                                                   << " ~";
    }
    void frameText() {
        QFETCH(std::string, bytes);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(describeBytes(bytes)), text);
    }

    void logLineLayout() {
        QCOMPARE(logLine(12'345'678ns, "<-", "01", enq + "01R" + eot),
                 "    12.346 <- 01 <ENQ>01R<EOT>"s);
    }
};

QTEST_APPLESS_MAIN(TestSimParsing)
#include "test_sim_parsing.moc"
