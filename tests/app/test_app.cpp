// riopanel as a program: the options that draw nothing work without a display,
// the window without one ends with one line and exit code 2, and --doctor and
// --list-ports look at a pseudo-terminal the test makes.
#include "tests/support/no_display.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include "tests/support/pseudo_terminal.h"

#include <sys/stat.h>

namespace {

// Generous: a child that has not ended by then hangs.
constexpr int kChildBoundMs = 30000;

struct Run {
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QByteArray out;
    QByteArray err;
};

// riopanel with no display: DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM
// removed, then display set as DISPLAY when given.
Run riopanel(const QStringList& arguments, const QString& display = {}) {
    QProcessEnvironment env = rio::test::environmentWithoutDisplay(display);
    QProcess child;
    child.setProcessEnvironment(env);
    child.start(QStringLiteral(RIOPANEL_PATH), arguments);
    Run run;
    if (!child.waitForFinished(kChildBoundMs)) {
        child.kill();
        child.waitForFinished();
        return run;
    }
    run.exitCode = child.exitCode();
    run.status = child.exitStatus();
    run.out = child.readAllStandardOutput();
    run.err = child.readAllStandardError();
    return run;
}

// The test's pseudo-terminal, its slave side as riopanel opens it.
QString slavePath(const rio::test::PseudoTerminal& pty) {
    return QString::fromStdString(pty.path());
}

} // namespace

class TestApp : public QObject {
    Q_OBJECT
private slots:
    void consoleOptionsNeedNoDisplay_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("display");
        QTest::newRow("--help, no display") << QStringList{"--help"} << QString();
        QTest::newRow("--version, no display") << QStringList{"--version"} << QString();
        QTest::newRow("--list-ports, no display") << QStringList{"--list-ports"} << QString();
        QTest::newRow("--help, a display that does not answer")
            << QStringList{"--help"} << QStringLiteral(":99");
        QTest::newRow("--list-ports, a display that does not answer")
            << QStringList{"--list-ports"} << QStringLiteral(":99");
    }
    void consoleOptionsNeedNoDisplay() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, display);
        const Run run = riopanel(arguments, display);
        QCOMPARE(run.status, QProcess::NormalExit);
        QVERIFY2(run.exitCode == 0, run.err.constData());
        QVERIFY(!run.out.isEmpty());
    }

    void windowWithoutDisplayEndsWithOneLine_data() {
        QTest::addColumn<QString>("display");
        QTest::newRow("no display") << QString();
        QTest::newRow("a display that does not answer") << QStringLiteral(":99");
    }
    void windowWithoutDisplayEndsWithOneLine() {
        QFETCH(QString, display);
        const Run run = riopanel({}, display);
        QCOMPARE(run.status, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.endsWith('\n') && run.err.count('\n') == 1, run.err.constData());
        QVERIFY2(run.err.contains("display") && run.err.contains("--screenshot"),
                 run.err.constData());
        QCOMPARE(run.out, QByteArray());
    }

    void listPortsShowsAccess() {
        RIO_SKIP_WITHOUT_PSEUDO_TERMINAL();
        const rio::test::PseudoTerminal pty;
        const QString path = slavePath(pty);
        const Run run = riopanel({"--list-ports", "--port-device", "1=" + path});
        QCOMPARE(run.exitCode, 0);
        const QList<QByteArray> lines = run.out.split('\n');
        const QByteArray first = lines.value(0).simplified();
        // Number and device first, as before; this user may open a terminal
        // it made.
        QVERIFY2(first.startsWith("1 " + path.toLocal8Bit() + ' '), first.constData());
        QVERIFY2(first.contains(" open-ok "), first.constData());
    }

    void doctorVerdicts_data() {
        QTest::addColumn<QString>("target"); // "PTY" is the test's pseudo-terminal
        QTest::addColumn<bool>("holdIt");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("line");
        QTest::newRow("a free terminal passes; the test is its far end")
            << "PTY" << false << 0
            << "ok    in use: no other program has the device open; pid SELF (";
        QTest::newRow("port 1 by default") << "" << false << 0 << "ok    device: PTY is there";
        QTest::newRow("held by another program: named, and a failure")
            << "PTY" << true << 1 << "fail  in use: pid HOLDER (";
        QTest::newRow("no device there fails")
            << "/dev/pts/999999" << false << 1 << "fail  device: /dev/pts/999999: ";
        QTest::newRow("a port number without a device cannot run") << "99" << false << 2 << "";
    }
    void doctorVerdicts() {
        QFETCH(QString, target);
        QFETCH(bool, holdIt);
        QFETCH(int, exitCode);
        QFETCH(QString, line);
        RIO_SKIP_WITHOUT_PSEUDO_TERMINAL();
        const rio::test::PseudoTerminal pty;
        const QString path = slavePath(pty);
        // A program with the device as its input holds it open.
        QProcess holder;
        if (holdIt) {
            holder.setStandardInputFile(path);
            holder.start(QStringLiteral("sleep"), {QStringLiteral("60")});
            QVERIFY(holder.waitForStarted());
        }
        const qint64 holderPid = holder.processId();
        QStringList arguments{"--doctor", "--port-device", "1=" + path};
        if (!target.isEmpty())
            arguments << QString(target).replace("PTY", path);
        const Run run = riopanel(arguments);
        if (holdIt) {
            holder.kill();
            holder.waitForFinished();
        }
        QCOMPARE(run.status, QProcess::NormalExit);
        QVERIFY2(run.exitCode == exitCode, run.out.constData());
        line.replace("PTY", path)
            .replace("SELF", QString::number(QCoreApplication::applicationPid()))
            .replace("HOLDER", QString::number(holderPid));
        QVERIFY2(run.out.contains(line.toLocal8Bit()), run.out.constData());
        if (exitCode == 2)
            QVERIFY(!run.err.isEmpty());
    }

    // Anyone may put a FIFO where the device's lock file goes; opening it to
    // read a pid would wait for a writer for ever. The doctor does not open
    // it, and warns of what it found.
    void doctorPassesAFifoLockFile() {
        RIO_SKIP_WITHOUT_PSEUDO_TERMINAL();
        const rio::test::PseudoTerminal pty;
        const QString path = slavePath(pty);
        const QString lock =
            QDir::tempPath() + QStringLiteral("/LCK..") + path.mid(5).replace('/', '_');
        if (QFileInfo::exists(lock))
            QSKIP("a lock file for the test's own pseudo-terminal is already there");
        QVERIFY2(::mkfifo(lock.toLocal8Bit().constData(), 0600) == 0, qPrintable(lock));
        const auto removeLock = qScopeGuard([&lock] { QFile::remove(lock); });
        const Run run = riopanel({"--doctor", path});
        QCOMPARE(run.status, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(
            run.out.contains(QStringLiteral("warn  lock file: %1 is not a regular file but a FIFO")
                                 .arg(lock)
                                 .toLocal8Bit()),
            run.out.constData());
    }

    // A refused option value is quoted short and escaped: no control byte
    // reaches the terminal, and a huge value does not fill it.
    void refusedOptionQuotedAsAnExcerpt() {
        const QString value = QStringLiteral("\x1b]0;x\x07") + QString(100'000, 'x');
        const Run run = riopanel({"--list-ports", "--port-device", value});
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.startsWith("riopanel: --port-device <1B>]0;x<07>" + QByteArray(34, 'x') +
                                    "... (100006 bytes): expected N=PATH"),
                 run.err.left(200).constData());
        QVERIFY(run.err.size() < 300);
    }

    void traceThatCannotBeOpenedStopsBeforeTheWindow() {
        QTemporaryDir dir;
        const QString picture = dir.filePath(QStringLiteral("panel.png"));
        const Run run = riopanel({"--trace", dir.filePath(QStringLiteral("no/such/folder.csv")),
                                  "--screenshot", picture});
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.count("riopanel:") == 1 && run.err.contains("trace file"),
                 run.err.constData());
        QVERIFY(!QFile::exists(picture));
    }

    // A silent line: the first board's read request, then its wait given up.
    void traceRecordsTheLine() {
        RIO_SKIP_WITHOUT_PSEUDO_TERMINAL();
        const rio::test::PseudoTerminal pty;
        QTemporaryDir dir;
        const QString trace = dir.filePath(QStringLiteral("line.csv"));
        const Run run =
            riopanel({"--port-device", "1=" + slavePath(pty), "--trace", trace, "--screenshot",
                      dir.filePath(QStringLiteral("panel.png")), "--after-ms", "1000"});
        QCOMPARE(run.exitCode, 0);
        QFile file(trace);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = file.readAll().split('\n');
        QVERIFY2(rows.size() >= 4, qPrintable(QString::number(rows.size())));
        QCOMPARE(rows[0],
                 QByteArray("time,board,address,direction,kind,frame,hex,outcome,response_ms\r"));
        QVERIFY2(rows[1].endsWith(",1,01,TX,read,<ENQ>01R<EOT>,05 30 31 52 04,,\r"),
                 rows[1].constData());
        QVERIFY2(rows[2].endsWith(",1,01,RX,read,,,no-answer,\r"), rows[2].constData());
        // e.g. 2026-12-08T05:12:03.123Z, in UTC whatever the machine's zone
        static const QRegularExpression utc(
            QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z,)"));
        QVERIFY2(utc.match(QString::fromLatin1(rows[1])).hasMatch(), rows[1].constData());
    }
};

QTEST_GUILESS_MAIN(TestApp)
#include "test_app.moc"
