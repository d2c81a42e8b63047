// Frames written by hand from the frame tables, never built with the code
// under test.
#include "protocol/frames.h"
#include "protocol/judged_reply.h"

#include <QTest>

using namespace rio::protocol;
using namespace std::string_literals;

Q_DECLARE_METATYPE(std::string)
Q_DECLARE_METATYPE(rio::protocol::Verdict)

namespace {

// Control bytes spelled out so that frames read like the tables.
const std::string enq = "\x05", eot = "\x04", ack = "\x06", etx = "\x03";

std::string goodRead(const std::string& inputs = "10000001", const std::string& a = "0512",
                     const std::string& b = "1023") {
    return ack + "01R" + inputs + a + b + etx;
}

// A judged field's text, or nothing when it is not a number.
std::optional<std::string> shown(const AnalogField& field) {
    if (!field.number)
        return std::nullopt;
    return field.number->text;
}

} // namespace

class TestFrames : public QObject {
    Q_OBJECT
private slots:
    void workedExample() {
        // Outputs captioned 1 and 3 on: index 0 and 2.
        Bits out{'1', '0', '1', '0', '0', '0', '0', '0'};
        QCOMPARE(buildWriteRequest("01", out), enq + "01W00000101" + eot);
        QCOMPARE(buildReadRequest("01"), enq + "01R" + eot);

        const std::string reply = goodRead();
        QCOMPARE(reply.size(), std::size_t{21});
        QCOMPARE(judgeReadReply(reply), Verdict::Accepted);
        ReadReply decoded = decodeReadReply(reply);
        Bits expected{'1', '0', '0', '0', '0', '0', '0', '1'};
        QCOMPARE(decoded.inBits, expected);
        QCOMPARE(decoded.analogA, "0512"s);
        QCOMPARE(decoded.analogB, "1023"s);
        QCOMPARE(analogDisplayText(decoded.analogA), std::optional("512"s));
        QCOMPARE(analogDisplayText(decoded.analogB), std::optional("1023"s));
    }

    void inputBitOrder() {
        // Position 5 is index 7, position 12 is index 0.
        ReadReply decoded = decodeReadReply(ack + "02R" + "abcdefgh" + "0100" + "0200" + etx);
        Bits expected{'h', 'g', 'f', 'e', 'd', 'c', 'b', 'a'};
        QCOMPARE(decoded.inBits, expected);
    }

    void requestsKeepTheirLength_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<std::string>("addr");
        QTest::newRow("1 gives 01") << "1"
                                    << "01"s;
        QTest::newRow("7 gives 07") << "7"
                                    << "07"s;
        QTest::newRow("12 stays") << "12"
                                  << "12"s;
        QTest::newRow("123 keeps 23") << "123"
                                      << "23"s;
        QTest::newRow("1234 keeps 34") << "1234"
                                       << "34"s;
        QTest::newRow("empty gives 00") << ""
                                        << "00"s;
        QTest::newRow("letter A gives 0A") << "A"
                                           << "0A"s;
        QTest::newRow("Hangul goes out as ?") << QString::fromUtf8("가나") << "??"s;
        QTest::newRow("Latin-1 keeps its byte") << QString::fromUtf8("é") << "0\xe9"s;
        QTest::newRow("control character kept") << "\t"
                                                << "0\t"s;
        QTest::newRow("astral code point is one character")
            << QString::fromUtf8("1\U0001F600") << "1?"s;
    }
    void requestsKeepTheirLength() {
        QFETCH(QString, box);
        QFETCH(std::string, addr);
        const std::u32string text = box.toStdU32String();
        QCOMPARE(addressRule(text), addr);
        QCOMPARE(buildReadRequest(addressRule(text)), enq + addr + "R" + eot);
        Bits out{};
        out.fill('0');
        QCOMPARE(buildWriteRequest(addressRule(text), out).size(), kWriteRequestLength);
    }

    void requestFromOddAddressStillFixedLength() {
        Bits out{};
        out.fill('1');
        QCOMPARE(buildReadRequest(""), enq + "00R" + eot);
        QCOMPARE(buildReadRequest("123"), enq + "23R" + eot);
        QCOMPARE(buildWriteRequest("5", out), enq + "05W11111111" + eot);
    }

    void replyComplete_data() {
        QTest::addColumn<std::string>("collected");
        QTest::addColumn<bool>("complete");
        QTest::newRow("nothing yet") << ""s << false;
        QTest::newRow("half a reply") << ack + "01R1000"s << false;
        QTest::newRow("ETX at the end") << goodRead() << true;
        QTest::newRow("ETX first") << etx << true;
        QTest::newRow("ETX in the middle") << ack + etx + "01R"s << true;
        QTest::newRow("NUL bytes do not end it") << "\0\0\0"s << false;
    }
    void replyComplete() {
        QFETCH(std::string, collected);
        QFETCH(bool, complete);
        QCOMPARE(rio::protocol::replyComplete(collected), complete);
    }

    void readReplyVerdict_data() {
        QTest::addColumn<std::string>("reply");
        QTest::addColumn<Verdict>("verdict");
        QTest::newRow("worked example") << goodRead() << Verdict::Accepted;
        QTest::newRow("length 20") << ack + "01R10000001051210"s + etx << Verdict::NoEtx;
        QTest::newRow("length 22, ETX at 21") << goodRead() + "x" << Verdict::WrongLength;
        QTest::newRow("length 22, ETX at 22")
            << ack + "01R10000001051210233"s + etx << Verdict::NoEtx;
        QTest::newRow("other address accepted")
            << ack + "99R1000000105121023"s + etx << Verdict::Accepted;
        QTest::newRow("NAK instead of ACK")
            << "\x15"s + "01R1000000105121023" + etx << Verdict::NoAck;
        QTest::newRow("lower-case r")
            << ack + "01r1000000105121023"s + etx << Verdict::WrongCommand;
        QTest::newRow("W in a read reply")
            << ack + "01W1000000105121023"s + etx << Verdict::WrongCommand;
        // Several faults at once: the first test in order decides.
        QTest::newRow("no ETX and no ACK: ETX decides") << "x01x"s << Verdict::NoEtx;
        QTest::newRow("no ACK and wrong letter: ACK decides")
            << "x01x1000000105121023"s + etx << Verdict::NoAck;
        QTest::newRow("wrong letter and too long: letter decides")
            << ack + "01x1000000105121023"s + etx + "!" << Verdict::WrongCommand;
        QTest::newRow("empty") << ""s << Verdict::NoEtx;
        QTest::newRow("only ETX") << etx << Verdict::NoEtx;
        QTest::newRow("NUL and 0xFF as inputs")
            << ack + "01R\0\xff\0\xff\0\xff\0\xff"s + "05121023" + etx << Verdict::Accepted;
    }
    void readReplyVerdict() {
        QFETCH(std::string, reply);
        QFETCH(Verdict, verdict);
        QCOMPARE(judgeReadReply(reply), verdict);
    }

    void writeReplyVerdict_data() {
        QTest::addColumn<std::string>("reply");
        QTest::addColumn<Verdict>("verdict");
        QTest::newRow("13 bytes") << ack + "03W00000001"s + etx << Verdict::Accepted;
        QTest::newRow("14 bytes, one stray after ETX")
            << ack + "03W00000001"s + etx + "z" << Verdict::Accepted;
        QTest::newRow("many trailing bytes")
            << ack + "03W00000001"s + etx + "\xff\0\x03"s << Verdict::Accepted;
        QTest::newRow("ETX at 12") << ack + "03W0000000"s + etx << Verdict::NoEtx;
        QTest::newRow("ETX at 14") << ack + "03W000000001"s + etx << Verdict::NoEtx;
        QTest::newRow("no ACK") << "?03W00000001"s + etx << Verdict::NoAck;
        QTest::newRow("R in a write reply") << ack + "03R00000001"s + etx << Verdict::WrongCommand;
        QTest::newRow("no ACK and wrong letter: ACK decides")
            << "?03R00000001"s + etx << Verdict::NoAck;
        QTest::newRow("0xFF in the echo")
            << ack + "03W\xff\xff\xff\xff\0\0\0\0"s + etx << Verdict::Accepted;
        QTest::newRow("short") << ack + "03W"s << Verdict::NoEtx;
    }
    void writeReplyVerdict() {
        QFETCH(std::string, reply);
        QFETCH(Verdict, verdict);
        QCOMPARE(judgeWriteReply(reply), verdict);
    }

    void analogDisplay_data() {
        QTest::addColumn<std::string>("field");
        QTest::addColumn<std::optional<std::string>>("shown");
        const std::optional<std::string> fails;
        QTest::newRow("0512") << "0512"s << std::optional("512"s);
        QTest::newRow("0000") << "0000"s << std::optional("0"s);
        QTest::newRow("1023") << "1023"s << std::optional("1023"s);
        QTest::newRow("9999") << "9999"s << std::optional("9999"s);
        QTest::newRow("0007") << "0007"s << std::optional("7"s);
        QTest::newRow("blanks around") << " 12 "s << std::optional("12"s);
        QTest::newRow("decimal point") << "01.5"s << std::optional("1.5"s);
        QTest::newRow("sign") << "-012"s << std::optional("-12"s);
        QTest::newRow("minus zero") << "-000"s << std::optional("0"s);
        QTest::newRow("letter inside") << "12A4"s << fails;
        QTest::newRow("four letters") << "ABCD"s << fails;
        QTest::newRow("all blank") << "    "s << fails;
        QTest::newRow("empty") << ""s << fails;
        QTest::newRow("lone point") << "  . "s << fails;
        QTest::newRow("two points") << "1.2."s << fails;
        QTest::newRow("blank inside") << "1 23"s << fails;
        QTest::newRow("exponent") << "1e99"s << fails;
        QTest::newRow("NUL byte") << "12\0"
                                     "3"s
                                  << fails;
        QTest::newRow("0xFF byte") << "\xff"
                                      "123"s
                                   << fails;
        QTest::newRow("hex prefix") << "0x1F"s << fails;
    }
    void analogDisplay() {
        QFETCH(std::string, field);
        QFETCH(std::optional<std::string>, shown);
        QCOMPARE(analogDisplayText(field), shown);
    }

    // The one judgement every reader of a reply uses: the verdict with the
    // analog rule on top of the frame tests, the inputs and both fields.
    void judgedRead_data() {
        QTest::addColumn<std::string>("reply");
        QTest::addColumn<Verdict>("verdict");
        QTest::addColumn<std::string>("inputs"); // as on the line; empty when none
        QTest::addColumn<std::optional<std::string>>("text1");
        QTest::addColumn<std::optional<std::string>>("text2");
        QTest::addColumn<double>("value1");
        QTest::addColumn<double>("value2");
        const std::optional<std::string> none;
        QTest::newRow("worked example")
            << goodRead() << Verdict::Accepted << "10000001"s << std::optional("512"s)
            << std::optional("1023"s) << 512.0 << 1023.0;
        QTest::newRow("sign and point")
            << goodRead("00000101", "-1.5", " 07 ") << Verdict::Accepted << "00000101"s
            << std::optional("-1.5"s) << std::optional("7"s) << -1.5 << 7.0;
        QTest::newRow("first field not a number")
            << goodRead("11000000", "12A4") << Verdict::AnalogNotNumber << "11000000"s << none
            << std::optional("1023"s) << 0.0 << 1023.0;
        QTest::newRow("second field blank")
            << goodRead("00000001", "0512", "    ") << Verdict::AnalogNotNumber << "00000001"s
            << std::optional("512"s) << none << 512.0 << 0.0;
        QTest::newRow("too long with a bad field: length decides")
            << goodRead("10000001", "ABCD") + "x" << Verdict::WrongLength << ""s << none << none
            << 0.0 << 0.0;
        QTest::newRow("NAK with a bad field: ACK decides")
            << "\x15"s + "01R10000001ABCD1023" + etx << Verdict::NoAck << ""s << none << none << 0.0
            << 0.0;
        QTest::newRow("W in a read reply")
            << ack + "01W1000000105121023"s + etx << Verdict::WrongCommand << ""s << none << none
            << 0.0 << 0.0;
        QTest::newRow("nothing") << ""s << Verdict::NoEtx << ""s << none << none << 0.0 << 0.0;
    }
    void judgedRead() {
        QFETCH(std::string, reply);
        QFETCH(Verdict, verdict);
        QFETCH(std::string, inputs);
        QFETCH(std::optional<std::string>, text1);
        QFETCH(std::optional<std::string>, text2);
        QFETCH(double, value1);
        QFETCH(double, value2);
        const JudgedReply judged = judgeRead(reply);
        QCOMPARE(judged.verdict, verdict);
        QCOMPARE(judged.accepted(), verdict == Verdict::Accepted);
        QCOMPARE(judged.framePassed(), !inputs.empty());
        if (inputs.empty())
            return;
        QCOMPARE(lineOrder(judged.inBits), inputs);
        QCOMPARE(judged.analog1.field, reply.substr(12, 4));
        QCOMPARE(judged.analog2.field, reply.substr(16, 4));
        QCOMPARE(shown(judged.analog1), text1);
        QCOMPARE(shown(judged.analog2), text2);
        if (text1)
            QCOMPARE(judged.analog1.number->value, value1);
        if (text2)
            QCOMPARE(judged.analog2.number->value, value2);
    }

    void judgedWrite_data() {
        QTest::addColumn<std::string>("reply");
        QTest::addColumn<Verdict>("verdict");
        QTest::newRow("13 bytes") << ack + "03W00000001"s + etx << Verdict::Accepted;
        QTest::newRow("stray after ETX") << ack + "03W00000001"s + etx + "z" << Verdict::Accepted;
        QTest::newRow("R in a write reply") << ack + "03R00000001"s + etx << Verdict::WrongCommand;
        QTest::newRow("ETX at 12") << ack + "03W0000000"s + etx << Verdict::NoEtx;
    }
    void judgedWrite() {
        QFETCH(std::string, reply);
        QFETCH(Verdict, verdict);
        const JudgedReply judged = judgeWrite(reply);
        QCOMPARE(judged.verdict, verdict);
        QCOMPARE(judged.accepted(), verdict == Verdict::Accepted);
    }

    void decodeNeverReadsPastTheEnd() {
        // Decoding is only promised for accepted replies, but a short one must
        // still come back with empty places rather than reading beyond it.
        ReadReply decoded = decodeReadReply(ack + "01R1"s);
        QCOMPARE(decoded.inBits[7], '1');
        QCOMPARE(decoded.inBits[0], '\0');
        QVERIFY(decoded.analogA.empty());
        QVERIFY(decoded.analogB.empty());
    }
};

QTEST_APPLESS_MAIN(TestFrames)
#include "test_frames.moc"
