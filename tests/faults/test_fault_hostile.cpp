// Hostile bytes in replies over a real line: NUL, bytes 0x80 to 0xFF, every
// control character, ETX in odd places. The acceptance rules decide; an
// accepted frame shows in its box byte for byte; a rejected one blanks the
// board's display. Every expected value below is written out by hand.

#include "tests/faults/fault_support.h"
#include "tests/faults/scripted_line.h"

#include <QTest>

using namespace rio::faults;
using namespace std::string_literals;

namespace {

const std::string ack = "\x06", etx = "\x03";

std::string readReply(const std::string& inputs, const std::string& a = "0512",
                      const std::string& b = "1023") {
    return ack + "01R" + inputs + a + b + etx;
}

// The eight bytes from `first` on, skipping ETX.
std::string controls(int first) {
    std::string eight;
    for (int c = first; eight.size() < 8; ++c)
        if (c != 0x03)
            eight += char(c == 0x20 ? 0x7F : c);
    return eight;
}

// The window, shown and its port opened, on a scripted line where board 1
// answers every `command` request with `reply` and the other boards answer
// as they should.
struct Board1Answers {
    Board1Answers(char command, const std::string& reply) {
        line.setAnswer(
            [command, reply](const rio::sim::Request& request) -> std::optional<std::string> {
                if (request.address == "01" && request.command == command)
                    return reply;
                return std::nullopt;
            });
        form.show();
        QTest::mouseClick(form.Command2, Qt::LeftButton);
    }
    ScriptedLine line;
    PanelOn panel{line.path()};
    rio::panel::Form1& form = *panel.form;
};

QString latin1(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

} // namespace

class TestFaultHostile : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { RIO_SKIP_WITHOUT_PSEUDO_TERMINAL(); }

    void hostileReadReplies_data() {
        QTest::addColumn<std::string>("reply");
        QTest::addColumn<QString>("status");  // the read's own status text
        QTest::addColumn<QString>("analogA"); // empty: blanked
        QTest::newRow("NUL in every input") << readReply("\0\0\0\0\0\0\0\0"s) << "#1 Read OK"
                                            << "512";
        QTest::newRow("0x80 to 0x87 as inputs")
            << readReply("\x80\x81\x82\x83\x84\x85\x86\x87") << "#1 Read OK"
            << "512";
        QTest::newRow("0xF8 to 0xFF as inputs")
            << readReply("\xF8\xF9\xFA\xFB\xFC\xFD\xFE\xFF") << "#1 Read OK"
            << "512";
        QTest::newRow("controls 0x00 to 0x08") << readReply(controls(0x00)) << "#1 Read OK"
                                               << "512";
        QTest::newRow("controls 0x09 to 0x10") << readReply(controls(0x09)) << "#1 Read OK"
                                               << "512";
        QTest::newRow("controls 0x11 to 0x18") << readReply(controls(0x11)) << "#1 Read OK"
                                               << "512";
        QTest::newRow("controls 0x19 to 0x1F and DEL") << readReply(controls(0x19)) << "#1 Read OK"
                                                       << "512";
        QTest::newRow("ETX as an input, ETX at 21") << readReply("1\x03"
                                                                 "000000")
                                                    << "#1 Read OK"
                                                    << "512";
        QTest::newRow("ETX in the address")
            << ack + "0\x03R00000000" + "0512" + "1023" + etx << "#1 Read OK"
            << "512";
        QTest::newRow("ETX at 1") << etx + "01R00000000" + "0512" + "1023" + etx << "#1 Read Error"
                                  << "";
        QTest::newRow("ETX at 20, nothing after")
            << ack + "01R00000000" + "0512" + "102" + etx << "#1 Read Error"
            << "";
        QTest::newRow("ETX at 22")
            << ack + "01R00000000" + "0512" + "10230" + etx << "#1 Read Error"
            << "";
        QTest::newRow("NUL in place of ACK")
            << "\0"s + "01R00000000" + "0512" + "1023" + etx << "#1 Read Error"
            << "";
        QTest::newRow("NUL in an analog field") << readReply("00000000", "05\0"s + "2")
                                                << QString::fromUtf8("#1 응답이 없습니다") << "";
        QTest::newRow("0xFF in an analog field") << readReply("00000000", "0512",
                                                              "\xFF"
                                                              "023")
                                                 << QString::fromUtf8("#1 응답이 없습니다") << "";
        QTest::newRow("ETX in an analog field") << readReply("00000000", "\x03"
                                                                         "512")
                                                << QString::fromUtf8("#1 응답이 없습니다") << "";
        QTest::newRow("signed decimal analog") << readReply("00000000", "-1.5") << "#1 Read OK"
                                               << "-1.5";
    }
    void hostileReadReplies() {
        QFETCH(std::string, reply);
        QFETCH(QString, status);
        QFETCH(QString, analogA);
        Board1Answers on('R', reply);
        rio::panel::Form1& form = on.form;
        // The read exchange the tick runs for board 1, on its own so that
        // its status is not overwritten by the write after it.
        form.ReadBoard1();
        QCOMPARE(form.Label2[0]->text(), status);
        QCOMPARE(form.Text5->text(), analogA);
        if (analogA.isEmpty()) {
            QVERIFY(form.Text2->text().isEmpty());
        } else {
            // The box holds every byte, NUL and controls included.
            QCOMPARE(form.Text2->text(), latin1(reply));
            QCOMPARE(form.Text2->text().toLatin1(),
                     QByteArray(reply.data(), qsizetype(reply.size())));
        }
        // Only '1' lights a lamp.
        for (std::size_t k = 0; k < 8; ++k)
            QCOMPARE(form.Command3[k]->backColor() == rio::panel::kRed,
                     !analogA.isEmpty() && reply[11 - k] == '1');
        QCOMPARE(form.ReadBusy, 0);
        QCOMPARE(form.WriteBusy, 0);
    }

    void hostileWriteReplies_data() {
        QTest::addColumn<std::string>("reply");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("shown");
        const std::string hostile = "\0\x80\xFF\x1B\x7F\x01\x02\x04"s;
        QTest::newRow("hostile echo")
            << ack + "01W" + hostile + etx << "#1 Write OK" << latin1(ack + "01W" + hostile + etx);
        QTest::newRow("hostile bytes after ETX")
            << ack + "01W00000000" + etx + hostile + etx << "#1 Write OK"
            << latin1(ack + "01W00000000" + etx + hostile + etx);
        QTest::newRow("ETX at 12") << ack + "01W0000000" + etx << "#1 Write Error"
                                   << "";
        QTest::newRow("ETX at 13 without ACK") << "\0"s + "01W00000000" + etx << "#1 Write Error"
                                               << "";
    }
    void hostileWriteReplies() {
        QFETCH(std::string, reply);
        QFETCH(QString, status);
        QFETCH(QString, shown);
        Board1Answers on('W', reply);
        rio::panel::Form1& form = on.form;
        QTest::mouseClick(form.Command5, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(on.line.requests() >= 2, 5000);
        form.Command6_Click();
        QTRY_COMPARE_WITH_TIMEOUT(form.tickNesting(), 0, 5000);
        QCOMPARE(form.Label2[0]->text(), status); // the write's, the last of board 1's turn
        QCOMPARE(form.Text4->text(), shown);
        // The read before it was not disturbed.
        QCOMPARE(form.Text5->text(), QStringLiteral("512"));
    }
};

QTEST_MAIN(TestFaultHostile)
#include "test_fault_hostile.moc"
