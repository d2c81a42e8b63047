// Trace rows against rows written by hand from the frame tables, and the trace
// file's behaviour: one header, appending only to a trace, a torn last row, a
// full disk.
#include "trace/trace_format.h"
#include "trace/trace_writer.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>

using namespace rio;
using namespace std::chrono;
using namespace std::string_literals;
using exchange::Direction;
using exchange::ExchangeKind;
using exchange::FrameEvent;
using exchange::FrameOutcome;

Q_DECLARE_METATYPE(std::string)
Q_DECLARE_METATYPE(rio::exchange::FrameEvent)

namespace {

// Control bytes spelled out so that frames read like the tables.
const std::string enq = "\x05", eot = "\x04", ack = "\x06", nak = "\x15", etx = "\x03";

// 2026-12-08T05:12:03.123Z
const system_clock::time_point kAt =
    sys_days{year{2026} / December / 8} + hours{5} + minutes{12} + seconds{3} + milliseconds{123};

FrameEvent tx(int board, ExchangeKind kind, std::string bytes) {
    FrameEvent e;
    e.board = board;
    e.address = "0"s + static_cast<char>('0' + board);
    e.kind = kind;
    e.direction = Direction::Tx;
    e.bytes = std::move(bytes);
    e.time = kAt;
    return e;
}

FrameEvent rx(int board, ExchangeKind kind, std::string bytes, FrameOutcome outcome,
              std::optional<microseconds> response) {
    FrameEvent e = tx(board, kind, std::move(bytes));
    e.direction = Direction::Rx;
    e.outcome = outcome;
    e.response = response;
    return e;
}

const std::string kHeader = "time,board,address,direction,kind,frame,hex,outcome,response_ms\r\n";

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestTrace : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // Far from UTC and not a whole hour, so a local time cannot pass.
        qputenv("TZ", "XST-13:45");
        tzset();
        QCOMPARE(QDateTime::currentDateTime().offsetFromUtc(), 13 * 3600 + 45 * 60);
    }

    void rows_data() {
        QTest::addColumn<FrameEvent>("event");
        QTest::addColumn<std::string>("row");
        const auto read = ExchangeKind::Read;
        const auto write = ExchangeKind::Write;

        QTest::newRow("read request") << tx(1, read, enq + "01R" + eot)
                                      << "2026-12-08T05:12:03.123Z,1,01,TX,read,<ENQ>01R<EOT>,"
                                         "05 30 31 52 04,,\r\n"s;
        QTest::newRow("write request")
            << tx(3, write, enq + "03W00000101" + eot)
            << "2026-12-08T05:12:03.123Z,3,03,TX,write,<ENQ>03W00000101<EOT>,"
               "05 30 33 57 30 30 30 30 30 31 30 31 04,,\r\n"s;
        QTest::newRow("accepted read reply")
            << rx(1, read, ack + "01R" + "10000001" + "0512" + "1023" + etx, FrameOutcome::Ok,
                  microseconds{27351})
            << "2026-12-08T05:12:03.123Z,1,01,RX,read,<ACK>01R1000000105121023<ETX>,"
               "06 30 31 52 31 30 30 30 30 30 30 31 30 35 31 32 31 30 32 33 03,ok,27.4\r\n"s;
        QTest::newRow("write reply with ETX at 12 is rejected:etx")
            << rx(2, write, ack + "02W" + "0000010" + etx, FrameOutcome::RejectedEtx,
                  microseconds{20000})
            << "2026-12-08T05:12:03.123Z,2,02,RX,write,<ACK>02W0000010<ETX>,"
               "06 30 32 57 30 30 30 30 30 31 30 03,rejected:etx,20.0\r\n"s;
        QTest::newRow("NAK at 1 is rejected:ack")
            << rx(1, read, nak + "01R" + "10000001" + "0512" + "1023" + etx,
                  FrameOutcome::RejectedAck, microseconds{26049})
            << "2026-12-08T05:12:03.123Z,1,01,RX,read,<NAK>01R1000000105121023<ETX>,"
               "15 30 31 52 31 30 30 30 30 30 30 31 30 35 31 32 31 30 32 33 03,"
               "rejected:ack,26.0\r\n"s;
        QTest::newRow("W in a read reply is rejected:command")
            << rx(1, read, ack + "01W" + "10000001" + "0512" + "1023" + etx,
                  FrameOutcome::RejectedCommand, microseconds{26050})
            << "2026-12-08T05:12:03.123Z,1,01,RX,read,<ACK>01W1000000105121023<ETX>,"
               "06 30 31 57 31 30 30 30 30 30 30 31 30 35 31 32 31 30 32 33 03,"
               "rejected:command,26.1\r\n"s;
        QTest::newRow("22-byte read reply is rejected:length")
            << rx(1, read, ack + "01R" + "10000001" + "0512" + "1023" + etx + "X",
                  FrameOutcome::RejectedLength, microseconds{1234567})
            << "2026-12-08T05:12:03.123Z,1,01,RX,read,<ACK>01R1000000105121023<ETX>X,"
               "06 30 31 52 31 30 30 30 30 30 30 31 30 35 31 32 31 30 32 33 03 58,"
               "rejected:length,1234.6\r\n"s;
        QTest::newRow("12A4 is rejected:analog")
            << rx(1, read, ack + "01R" + "10000001" + "12A4" + "1023" + etx,
                  FrameOutcome::RejectedAnalog, microseconds{900})
            << "2026-12-08T05:12:03.123Z,1,01,RX,read,<ACK>01R1000000112A41023<ETX>,"
               "06 30 31 52 31 30 30 30 30 30 30 31 31 32 41 34 31 30 32 33 03,"
               "rejected:analog,0.9\r\n"s;
        QTest::newRow("no answer has empty frame and hex")
            << rx(2, read, "", FrameOutcome::NoAnswer, std::nullopt)
            << "2026-12-08T05:12:03.123Z,2,02,RX,read,,,no-answer,\r\n"s;
        QTest::newRow("port error") << [] {
            FrameEvent e = rx(3, write, "", FrameOutcome::PortError, std::nullopt);
            e.reason = "Input/output error";
            return e;
        }() << "2026-12-08T05:12:03.123Z,3,03,RX,write,,,port-error,\r\n"s;
        QTest::newRow("reply beginning = gets a leading quote mark")
            << rx(1, read, "=SUM(A1)" + etx, FrameOutcome::RejectedEtx, microseconds{5000})
            << "2026-12-08T05:12:03.123Z,1,01,RX,read,'=SUM(A1)<ETX>,"
               "3D 53 55 4D 28 41 31 29 03,rejected:etx,5.0\r\n"s;
        QTest::newRow("ESC shows as <1B>")
            << rx(1, read, ack + "01R" + "1000000\x1b" + "0512" + "1023" + etx, FrameOutcome::Ok,
                  microseconds{27000})
            << "2026-12-08T05:12:03.123Z,1,01,RX,read,<ACK>01R1000000<1B>05121023<ETX>,"
               "06 30 31 52 31 30 30 30 30 30 30 1B 30 35 31 32 31 30 32 33 03,ok,27.0\r\n"s;
        QTest::newRow("comma and quote in a reply are quoted")
            << rx(1, read, ack + "01R" + "1,\"00000" + "0512" + "1023" + etx, FrameOutcome::Ok,
                  microseconds{27000})
            << "2026-12-08T05:12:03.123Z,1,01,RX,read,\"<ACK>01R1,\"\"0000005121023<ETX>\","
               "06 30 31 52 31 2C 22 30 30 30 30 30 30 35 31 32 31 30 32 33 03,ok,27.0\r\n"s;
    }
    void rows() {
        QFETCH(FrameEvent, event);
        QFETCH(std::string, row);
        QCOMPARE(trace::traceRow(event), row);
    }

    void cellsNeverStartAFormula_data() {
        QTest::addColumn<std::string>("text");
        QTest::addColumn<std::string>("cell");
        QTest::newRow("plus") << "+1"s
                              << "'+1"s;
        QTest::newRow("minus") << "-1"s
                               << "'-1"s;
        QTest::newRow("at") << "@A1"s
                            << "'@A1"s;
        QTest::newRow("tab") << "\tx"s
                             << "'\tx"s;
        QTest::newRow("CR, quoted") << "\rx"s
                                    << "\"'\rx\""s;
        QTest::newRow("equals with a comma, quoted") << "=1,2"s
                                                     << "\"'=1,2\""s;
        QTest::newRow("LF inside, quoted") << "a\nb"s
                                           << "\"a\nb\""s;
        QTest::newRow("minus inside stays") << "1-2"s
                                            << "1-2"s;
    }
    void cellsNeverStartAFormula() {
        QFETCH(std::string, text);
        QFETCH(std::string, cell);
        QCOMPARE(trace::csvField(text), cell);
    }

    void appendsUnderOneHeader() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("trace.csv"));
        {
            trace::TraceWriter writer;
            QVERIFY2(writer.open(path), qPrintable(writer.reason()));
            writer.frame(tx(1, ExchangeKind::Read, enq + "01R" + eot));
        }
        // Written as it happened, not when the writer closes.
        trace::TraceWriter writer;
        QVERIFY(writer.open(path));
        writer.frame(rx(1, ExchangeKind::Read, "", FrameOutcome::NoAnswer, std::nullopt));
        QCOMPARE(fileBytes(path).toStdString(),
                 kHeader +
                     "2026-12-08T05:12:03.123Z,1,01,TX,read,<ENQ>01R<EOT>,05 30 31 52 04,,\r\n" +
                     "2026-12-08T05:12:03.123Z,1,01,RX,read,,,no-answer,\r\n");
    }

    void rowCutShortByACrashIsEnded() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("trace.csv"));
        QFile torn(path);
        QVERIFY(torn.open(QIODevice::WriteOnly));
        torn.write((kHeader + "2026-12-08T05:12:03.123Z,1,01,TX,re").c_str());
        torn.close();
        trace::TraceWriter writer;
        QVERIFY(writer.open(path));
        writer.frame(tx(2, ExchangeKind::Read, enq + "02R" + eot));
        QCOMPARE(fileBytes(path).toStdString(),
                 kHeader + "2026-12-08T05:12:03.123Z,1,01,TX,re\r\n" +
                     "2026-12-08T05:12:03.123Z,2,02,TX,read,<ENQ>02R<EOT>,05 30 32 52 04,,\r\n");
    }

    // Rows never land at the end of someone's notes: a file that holds
    // anything but a trace is refused and left as it was.
    void refusesToAppendToAnotherFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("notes.csv"));
        QFile notes(path);
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("bench 3,relay board\r\n");
        notes.close();
        trace::TraceWriter writer;
        QVERIFY(!writer.open(path));
        QVERIFY(!writer.isOpen());
        QCOMPARE(writer.reason(), QStringLiteral("it is not a trace file (its first line is not "
                                                 "the trace header), and is left as it is"));
        QCOMPARE(fileBytes(path), QByteArray("bench 3,relay board\r\n"));
    }

    void fileThatCannotBeOpenedSaysWhy() {
        QTemporaryDir dir;
        trace::TraceWriter writer;
        QVERIFY(!writer.open(dir.filePath(QStringLiteral("no-such-folder/trace.csv"))));
        QVERIFY(!writer.isOpen());
        QCOMPARE(writer.reason(), QStringLiteral("No such file or directory"));
    }

    void fullDiskStopsTheTraceOnce() {
        if (!QFileInfo::exists(QStringLiteral("/dev/full")))
            QSKIP("this machine has no /dev/full to stand for a full disk");
        trace::TraceWriter writer;
        QSignalSpy stopped(&writer, &trace::TraceWriter::traceStopped);
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("/dev/full.*No space left")));
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        // It opens: the failure is the first write's, as a disk filling up
        // during a run would give it.
        QVERIFY(writer.open(QStringLiteral("/dev/full")));
        writer.frame(tx(1, ExchangeKind::Read, enq + "01R" + eot));
        writer.frame(rx(1, ExchangeKind::Read, "", FrameOutcome::NoAnswer, std::nullopt));
        QVERIFY(writer.stopped());
        QCOMPARE(writer.reason(), QStringLiteral("No space left on device"));
        QCOMPARE(stopped.count(), 1);
        QCOMPARE(stopped.at(0).at(0).toString(), writer.reason());
    }
};

QTEST_GUILESS_MAIN(TestTrace)
#include "test_trace.moc"
