// riosim as a process: the ready line, a request answered on the printed
// path, the log on standard output, flags, and a clean end on a signal.
#include "tests/sim/line_port.h"
#include "tests/support/pseudo_terminal.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

using namespace simtest;
using namespace std::string_literals;

namespace {

// Starts riosim and reads its first line; the path, or empty on failure.
QString startRiosim(QProcess& process, const QStringList& args) {
    process.start(QStringLiteral(RIOSIM_PATH), args);
    if (!process.waitForStarted(5000))
        return {};
    const auto deadline = Clock::now() + kPatience;
    while (!process.canReadLine() && Clock::now() < deadline)
        process.waitForReadyRead(100);
    const QString first = QString::fromLatin1(process.readLine()).trimmed();
    static const QRegularExpression ready("^riosim: line ready at (/dev/pts/\\d+)$");
    const auto match = ready.match(first);
    if (!match.hasMatch())
        qWarning("unexpected first line: %s", qPrintable(first));
    return match.captured(1);
}

// Log lines read until `count` have come, with a deadline.
QStringList logLines(QProcess& process, int count) {
    QStringList lines;
    const auto deadline = Clock::now() + kPatience;
    while (lines.size() < count && Clock::now() < deadline) {
        if (process.canReadLine() || process.waitForReadyRead(100)) {
            while (process.canReadLine())
                lines << QString::fromLatin1(process.readLine()).chopped(1);
        }
    }
    return lines;
}

} // namespace

class TestSimProgram : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { RIO_SKIP_WITHOUT_PSEUDO_TERMINAL(); }

    void servesLogsAndEnds_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void servesLogsAndEnds() {
        QFETCH(int, signal);
        QProcess riosim;
        const QString path = startRiosim(riosim, {"--log", "--boards", "04,05", "--inputs",
                                                  "04=10000001", "--behaviour", "05=silent"});
        QVERIFY(!path.isEmpty());
        LinePort port(path.toStdString());
        QVERIFY(port.isOpen());
        QVERIFY(port.send(enq + "05R" + eot + enq + "04R" + eot));
        QCOMPARE(port.receive(21), ack + "04R1000000105121023" + etx);

        const QStringList lines = logLines(riosim, 3);
        QCOMPARE(lines.size(), 3);
        static const QRegularExpression stamp("^ *\\d+\\.\\d{3} ");
        for (const auto& line : lines)
            QVERIFY2(stamp.match(line).hasMatch(), qPrintable(line));
        QVERIFY(lines[0].endsWith(" <- 05 <ENQ>05R<EOT>"));
        QVERIFY(lines[1].endsWith(" <- 04 <ENQ>04R<EOT>"));
        QVERIFY(lines[2].endsWith(" -> 04 <ACK>04R1000000105121023<ETX>"));

        QCOMPARE(::kill(static_cast<pid_t>(riosim.processId()), signal), 0);
        QVERIFY(riosim.waitForFinished(5000));
        QCOMPARE(riosim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(riosim.exitCode(), 0);
    }

    void endsAtOnce_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("shows"); // on stdout for 0, else on stderr
        QTest::newRow("help") << QStringList{"--help"} << 0 << QByteArray("split:N:MS");
        QTest::newRow("unknown behaviour")
            << QStringList{"--behaviour", "02=sleepy"} << 2 << QByteArray("sleepy");
    }
    void endsAtOnce() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, shows);
        QProcess riosim;
        riosim.start(QStringLiteral(RIOSIM_PATH), args);
        QVERIFY(riosim.waitForFinished(5000));
        QCOMPARE(riosim.exitCode(), exitCode);
        const auto text =
            exitCode == 0 ? riosim.readAllStandardOutput() : riosim.readAllStandardError();
        QVERIFY(text.contains(shows));
    }
};

QTEST_GUILESS_MAIN(TestSimProgram)
#include "test_sim_program.moc"
