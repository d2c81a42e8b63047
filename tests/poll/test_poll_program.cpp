// riopoll as a technician and a script run it: the program and the board
// simulator as processes on a real pseudo-terminal. The plan reader, the board
// test against each fault the simulator can inject, the report files read
// back, what refuses a test before the line, a report and a trace onto a full
// disk, an interruption, and polling's exit status. Expected values are
// written by hand from the frame tables and the plans below.
#include "tests/support/pseudo_terminal.h"
#include "tests/support/sim_process.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Only reached when something is wrong; a healthy run takes well under it.
constexpr int kPatienceMs = 30'000;

// A short plan at the simulator's fastest speed: four cycles, the whole
// loop-back map, both analog channels.
const QByteArray kPlan = "[line]\n"
                         "speed=115200\n"
                         "board=01\n"
                         "[communication]\n"
                         "cycles=4\n"
                         "max_failures=0\n"
                         "max_response_ms=150   ; a reply later than this is no answer anyway\n"
                         "[loopback]\n"
                         "map=1>1,2>2,3>3,4>4,5>5,6>6,7>7,8>8\n"
                         "[analog1]\n"
                         "min=100\n"
                         "max=900\n"
                         "[analog2]\n"
                         "min=0\n"
                         "max=1023\n";

// riosim with --log on a new pseudo-terminal, or a failed test where it did
// not start.
struct Simulator : rio::test::SimProcess {
    explicit Simulator(const QStringList& faults)
        : SimProcess(QStringLiteral(RIOSIM_PATH), faults) {
        if (path.isEmpty())
            QTest::qFail("riosim did not name its line", __FILE__, __LINE__);
    }
};

// A tmpfs of a few pages on a new folder, for a disk that fills; unmounted
// again at the end. `why` says why there is none: mounting needs root.
struct SmallFileSystem {
    explicit SmallFileSystem(const char* size) {
        const QByteArray options = QByteArray("size=") + size;
        if (!m_dir.isValid())
            why = "no temporary folder to mount a small tmpfs on";
        else if (::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs",
                         MS_NOSUID | MS_NODEV, options.constData()) != 0)
            why = QStringLiteral("a small tmpfs stands for a full disk, and mounting one here "
                                 "failed: %1")
                      .arg(qt_error_string(errno));
        else
            path = m_dir.path();
    }
    ~SmallFileSystem() {
        if (!path.isEmpty())
            ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    QString path;
    QString why;

private:
    QTemporaryDir m_dir;
};

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run riopoll(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral(RIOPOLL_PATH), args);
    Run run;
    if (!process.waitForFinished(kPatienceMs) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// Reads `fd` until what came holds `wanted`, or the patience is spent.
bool readUntil(int fd, const QByteArray& wanted) {
    QByteArray seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatienceMs);
    while (!seen.contains(wanted)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd entry{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&entry, 1, int(left.count())) != 1)
            return false;
        char buffer[512];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            return false;
        seen.append(buffer, got);
    }
    return true;
}

// The child's standard output (and error, when asked) into the pipe's write
// end, with SIGPIPE as a shell leaves it for the programs of a pipeline.
void pipeInto(QProcess& process, int writeEnd, bool errorsToo) {
    process.setChildProcessModifier([writeEnd, errorsToo] {
        ::dup2(writeEnd, STDOUT_FILENO);
        if (errorsToo)
            ::dup2(writeEnd, STDERR_FILENO);
        ::signal(SIGPIPE, SIG_DFL);
    });
}

QString writePlan(const QTemporaryDir& dir, const QByteArray& text) {
    const QString path = dir.filePath(QStringLiteral("plan.ini"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return {};
    return path;
}

// The one report folder under `dir`.
QString reportFolder(const QString& dir) {
    const QStringList folders = QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    return folders.size() == 1 ? QDir(dir).filePath(folders.first()) : QString();
}

QJsonObject resultOf(const QString& folder) {
    QFile file(QDir(folder).filePath(QStringLiteral("result.json")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

// "communication=pass loopback=fail ..." from result.json.
QString stepOutcomes(const QJsonObject& result) {
    QStringList steps;
    for (const QJsonValue step : result.value("steps").toArray())
        steps << step["name"].toString() + "=" + step["outcome"].toString();
    return steps.join(' ');
}

QJsonObject step(const QJsonObject& result, const QString& name) {
    for (const QJsonValue step : result.value("steps").toArray())
        if (step["name"].toString() == name)
            return step.toObject();
    return {};
}

} // namespace

class TestPollProgram : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { RIO_SKIP_WITHOUT_PSEUDO_TERMINAL(); }

    // A plan is read whole before anything goes on the line: a mistake is
    // refused with its line number and exit 2, and the simulator sees no
    // request; an absent section is a step not run.
    void plans_data() {
        QTest::addColumn<QByteArray>("plan");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("refusal"); // on standard error
        QTest::addColumn<QString>("steps");   // from result.json
        QTest::newRow("good plan, every step passes")
            << kPlan << 0 << QString()
            << "communication=pass loopback=pass analog=pass teardown=pass";
        QTest::newRow("unknown key, refused with its line")
            << QByteArray("[line]\nspeed=115200\n[communication]\ncycle=4  # one letter short\n")
            << 2 << "plan.ini: line 4: unknown key 'cycle' in [communication]"
            << "communication=error loopback=skipped analog=skipped teardown=skipped";
        QTest::newRow("bad value, refused with its line")
            << QByteArray("; bench 3\n[loopback]\nmap=1>1,2>9\n") << 2
            << "plan.ini: line 3: map entry '2>9' is not OUTPUT>INPUT with both from 1 to 8"
            << "communication=error loopback=skipped analog=skipped teardown=skipped";
        QTest::newRow("only [line] and comments, refused: no test is not a pass")
            << QByteArray("; bench 3, steps still to come\n[line]\nspeed=115200\n") << 2
            << "plan.ini: the plan has no step"
            << "communication=error loopback=skipped analog=skipped teardown=skipped";
        QByteArray noLoopback = kPlan;
        noLoopback.replace("[loopback]\nmap=1>1,2>2,3>3,4>4,5>5,6>6,7>7,8>8\n", "");
        QTest::newRow("missing [loopback], that step not run")
            << noLoopback << 0 << QString()
            << "communication=pass loopback=skipped analog=pass teardown=pass";
    }
    void plans() {
        QFETCH(QByteArray, plan);
        QFETCH(int, exitCode);
        QFETCH(QString, refusal);
        QFETCH(QString, steps);
        Simulator sim({});
        QVERIFY(!sim.path.isEmpty());
        QTemporaryDir dir;
        const QString reports = dir.filePath("reports");
        const Run run =
            riopoll({"--test", writePlan(dir, plan), "--device", sim.path, "--report", reports});
        QCOMPARE(run.exitCode, exitCode);
        if (!refusal.isEmpty()) {
            QVERIFY2(run.err.contains(refusal.toUtf8()), run.err.constData());
            // Nothing went on the line before the test's own marker.
            QVERIFY(sim.logUpToMarker());
            QCOMPARE(sim.log().size(), 1);
        }
        const QJsonObject result = resultOf(reportFolder(reports));
        QCOMPARE(result["verdict"].toString(), exitCode == 0 ? "PASS" : "ERROR");
        QCOMPARE(stepOutcomes(result), steps);
    }

    // Each fault the simulator injects fails the one step meant to catch it,
    // and the board still answers, so the verdict is FAIL.
    void faults_data() {
        QTest::addColumn<QStringList>("fault");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("failedStepSays");
        QTest::newRow("healthy board")
            << QStringList{} << "communication=pass loopback=pass analog=pass teardown=pass"
            << QString();
        QTest::newRow("input 3 stuck at 0")
            << QStringList{"--stuck", "01=3:0"}
            << "communication=pass loopback=fail analog=pass teardown=pass"
            << "output 3 alone: input 3 off (expected on); all outputs on: input 3 off (expected "
               "on)";
        QTest::newRow("input 6 stuck at 1")
            << QStringList{"--stuck", "01=6:1"}
            << "communication=pass loopback=fail analog=pass teardown=pass"
            << "all outputs off: input 6 on (expected off)";
        QTest::newRow("inputs 1 and 2 crossed")
            << QStringList{"--cross", "01=1>2,2>1"}
            << "communication=pass loopback=fail analog=pass teardown=pass"
            << "output 1 alone: input 1 off (expected on), input 2 on (expected off); output 2 "
               "alone: input 1 on (expected off), input 2 off (expected on)";
        QTest::newRow("analog1 reads 9999")
            << QStringList{"--analog", "01=9999,1023"}
            << "communication=pass loopback=pass analog=fail teardown=pass"
            << "analog1 median 9999 of 4 readings outside 100..900";
        QTest::newRow("every 4th request unanswered")
            << QStringList{"--behaviour", "01=intermittent:4"}
            << "communication=fail loopback=pass analog=pass teardown=pass"
            << "8 exchanges, 2 not accepted (at most 0)";
    }
    void faults() {
        QFETCH(QStringList, fault);
        QFETCH(QString, steps);
        QFETCH(QString, failedStepSays);
        Simulator sim(fault);
        QVERIFY(!sim.path.isEmpty());
        QTemporaryDir dir;
        const QString reports = dir.filePath("reports");
        const Run run =
            riopoll({"--test", writePlan(dir, kPlan), "--device", sim.path, "--report", reports});
        const QJsonObject result = resultOf(reportFolder(reports));
        QCOMPARE(stepOutcomes(result), steps);
        QCOMPARE(run.exitCode, failedStepSays.isEmpty() ? 0 : 1);
        QCOMPARE(result["verdict"].toString(), failedStepSays.isEmpty() ? "PASS" : "FAIL");
        if (!failedStepSays.isEmpty()) {
            const QString failed = steps.section("=fail", 0, 0).section(' ', -1);
            QVERIFY2(step(result, failed)["message"].toString().startsWith(failedStepSays),
                     qPrintable(step(result, failed)["message"].toString()));
            // Failures come first in the summary.
            QVERIFY2(run.out.startsWith("FAIL  unit") || run.out.startsWith("FAIL  (no unit)"),
                     run.out.constData());
            QVERIFY(run.out.split('\n').value(1).startsWith("  FAIL    " + failed.toUtf8()));
        }
        // Teardown left every output off and saw the write accepted.
        QTRY_COMPARE_WITH_TIMEOUT(sim.writes().mid(sim.writes().size() - 2),
                                  QStringList({"<- 01W00000000", "-> 01W00000000"}), 5000);
    }

    // The three report files of a failed test, read back field by field.
    void reportReadBack() {
        Simulator sim({"--stuck", "01=3:0"});
        QVERIFY(!sim.path.isEmpty());
        QTemporaryDir dir;
        const QString reports = dir.filePath("reports");
        const Run run = riopoll({"--test", writePlan(dir, kPlan), "--device", sim.path, "--unit",
                                 "SN 7/B", "--report", reports});
        QCOMPARE(run.exitCode, 1);
        const QString folder = reportFolder(reports);
        // The unit's blank and slash cannot be in a folder name.
        QVERIFY2(QRegularExpression("/SN_7_B-\\d{8}T\\d{6}Z$").match(folder).hasMatch(),
                 qPrintable(folder));

        const QJsonObject result = resultOf(folder);
        QCOMPARE(result["unit"].toString(), "SN 7/B");
        QCOMPARE(result["plan"]["file"].toString(), dir.filePath("plan.ini"));
        // sha256sum of kPlan, worked out apart from the program.
        QCOMPARE(result["plan"]["sha256"].toString(),
                 "e219b50574a69d1da06b6c19f44c592c94dbd9409cfd4d1383bfb0af2089f783");
        static const QRegularExpression iso(
            "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$");
        QVERIFY(iso.match(result["start"].toString()).hasMatch());
        QVERIFY(iso.match(result["end"].toString()).hasMatch());
        QVERIFY(result["start"].toString() <= result["end"].toString());
        QCOMPARE(result["verdict"].toString(), "FAIL");
        const QJsonObject loopback = step(result, "loopback");
        const QJsonArray measurements = loopback["measurements"].toArray();
        QCOMPARE(measurements.size(), 10); // all off, each of 8 alone, all on
        const QJsonObject alone3 = measurements[3].toObject();
        QCOMPARE(alone3["name"].toString(), "output_3_alone");
        QCOMPARE(alone3["value"].toString(), "00000000");
        QCOMPARE(alone3["low"].toString(), "00000100");
        QCOMPARE(alone3["high"].toString(), "00000100");
        QCOMPARE(alone3["outcome"].toString(), "fail");
        const QJsonObject analog1 = step(result, "analog")["measurements"][0].toObject();
        QCOMPARE(analog1["name"].toString(), "analog1_median");
        QCOMPARE(analog1["value"].toDouble(), 512.0);
        QCOMPARE(analog1["low"].toDouble(), 100.0);
        QCOMPARE(analog1["high"].toDouble(), 900.0);

        QFile junit(QDir(folder).filePath("junit.xml"));
        QVERIFY(junit.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&junit);
        QStringList cases;
        QString failure;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const auto attribute = [&](const char* name) {
                return xml.attributes().value(QLatin1String(name)).toString();
            };
            if (xml.name() == QLatin1String("testsuite")) {
                QCOMPARE(attribute("tests"), "4");
                QCOMPARE(attribute("failures"), "1");
                QCOMPARE(attribute("errors"), "0");
                QCOMPARE(attribute("skipped"), "0");
            } else if (xml.name() == QLatin1String("testcase")) {
                cases << attribute("name");
            } else if (xml.name() == QLatin1String("failure")) {
                failure = cases.last() + ": " + attribute("message");
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(cases, QStringList({"communication", "loopback", "analog", "teardown"}));
        QCOMPARE(failure, "loopback: output 3 alone: input 3 off (expected on); all outputs on: "
                          "input 3 off (expected on)");

        QFile csv(QDir(folder).filePath("measurements.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = csv.readAll().split('\n');
        QCOMPARE(rows.value(0), "step,name,value,low,high,outcome\r");
        QCOMPARE(rows.value(2), "communication,failures,0,,0,pass\r");
        QCOMPARE(rows.value(7), "loopback,output_3_alone,00000000,00000100,00000100,fail\r");
        QCOMPARE(rows.value(14), "analog,analog1_median,512,100,900,pass\r");
    }

    // What can refuse a test is found before a byte is sent: the simulator
    // sees nothing but the test's own marker, and a file named as the report
    // folder is left as it was.
    void refusedBeforeTheLine_data() {
        QTest::addColumn<QStringList>("arguments"); // REPORTS: a regular file
        QTest::addColumn<QString>("refusal");       // on standard error
        QTest::newRow("--report names a regular file")
            << QStringList{"--report", "REPORTS"} << "reports is not a folder";
        QTest::newRow("--unit of 65 characters")
            << QStringList{"--unit", QString(65, QLatin1Char('7'))}
            << "--unit is a serial number of at most 64 characters; this one has 65";
    }
    void refusedBeforeTheLine() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, refusal);
        Simulator sim({});
        QVERIFY(!sim.path.isEmpty());
        QTemporaryDir dir;
        const QString reports = dir.filePath("reports");
        QFile file(reports);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("kept\n");
        file.close();
        arguments.replaceInStrings(QRegularExpression("^REPORTS$"), reports);
        const Run run =
            riopoll(QStringList{"--test", writePlan(dir, kPlan), "--device", sim.path} + arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(refusal.toUtf8()), run.err.constData());
        QVERIFY(sim.logUpToMarker());
        QCOMPARE(sim.log().size(), 1);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), "kept\n");
    }

    // A report onto a disk that fills: the board passed, but a record that
    // was not kept is no PASS. The verdict line still says what the board
    // did, the exit status is 2, and no part of the report is left.
    void reportOntoAFullDisk() {
        SmallFileSystem disk("8k"); // two pages; the three files need three at least
        if (!disk.why.isEmpty())
            QSKIP(qPrintable(disk.why));
        Simulator sim({});
        QVERIFY(!sim.path.isEmpty());
        QTemporaryDir dir;
        const QString reports = disk.path + "/reports";
        const Run run =
            riopoll({"--test", writePlan(dir, kPlan), "--device", sim.path, "--report", reports});
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.out.startsWith("PASS  (no unit)  board 01"), run.out.constData());
        QVERIFY2(QRegularExpression("\nreport not written: cannot write "
                                    "[^\n]*: No space left on device\n$")
                     .match(QString::fromUtf8(run.out))
                     .hasMatch(),
                 run.out.constData());
        QCOMPARE(QDir(reports).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                         QDir::NoDotAndDotDot),
                 QStringList());
    }

    // A port that does not open: ERROR, exit 2, the reason, a report.
    void portCannotOpen() {
        QTemporaryDir dir;
        const QString reports = dir.filePath("reports");
        const Run run = riopoll({"--test", writePlan(dir, kPlan), "--device",
                                 dir.filePath("no-such-tty"), "--report", reports});
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains("could not open the port"), run.err.constData());
        const QJsonObject result = resultOf(reportFolder(reports));
        QCOMPARE(result["verdict"].toString(), "ERROR");
        QCOMPARE(stepOutcomes(result),
                 "communication=error loopback=skipped analog=skipped teardown=skipped");
        QVERIFY(run.out.startsWith("ERROR"));
    }

    // Ctrl+C, or a hang-up (the terminal or ssh session closed), while
    // outputs are driven: the exchange in flight ends, teardown puts every
    // output off and sees it accepted, and the report says ERROR.
    void interruptDuringLoopback_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("name");
        QTest::newRow("Ctrl+C") << SIGINT << "SIGINT";
        QTest::newRow("hang-up") << SIGHUP << "SIGHUP";
    }
    void interruptDuringLoopback() {
        QFETCH(int, signal);
        QFETCH(QString, name);
        // A turnaround so the loop-back step lasts long enough to be caught.
        Simulator sim({"--turnaround", "20"});
        QVERIFY(!sim.path.isEmpty());
        QTemporaryDir dir;
        const QString reports = dir.filePath("reports");
        QProcess poll;
        poll.start(QStringLiteral(RIOPOLL_PATH),
                   {"--test", writePlan(dir, kPlan), "--device", sim.path, "--report", reports});
        QVERIFY(poll.waitForStarted(5000));
        // Caught once output 2 alone has been written: an output is on.
        QTRY_VERIFY_WITH_TIMEOUT(sim.writes().contains("<- 01W00000010"), kPatienceMs);
        QCOMPARE(::kill(pid_t(poll.processId()), signal), 0);
        QVERIFY(poll.waitForFinished(kPatienceMs));
        QCOMPARE(poll.exitStatus(), QProcess::NormalExit);
        QCOMPARE(poll.exitCode(), 2);

        // Nothing after output 2 alone but a few of its pattern's exchanges,
        // and the last write is all off, accepted.
        QTRY_COMPARE_WITH_TIMEOUT(sim.writes().constLast(), "-> 01W00000000", 5000);
        QCOMPARE(sim.writes().at(sim.writes().size() - 2), "<- 01W00000000");
        QVERIFY(!sim.writes().contains("<- 01W10000000"));

        const QJsonObject result = resultOf(reportFolder(reports));
        QCOMPARE(result["verdict"].toString(), "ERROR");
        QCOMPARE(stepOutcomes(result),
                 "communication=pass loopback=error analog=skipped teardown=pass");
        QVERIFY2(
            step(result, "loopback")["message"].toString().startsWith("interrupted by " + name),
            qPrintable(step(result, "loopback")["message"].toString()));
    }

    // The reader of standard output (or of both streams, as `|& head`) goes
    // away during the loop-back step. Nothing kills riopoll: the test runs on
    // to the verdict the board earned, teardown puts every output off, and the
    // report is written.
    void closedConsoleDuringLoopback_data() {
        QTest::addColumn<bool>("errorsToo");
        QTest::newRow("standard output closed") << false;
        QTest::newRow("standard output and error closed") << true;
    }
    void closedConsoleDuringLoopback() {
        QFETCH(bool, errorsToo);
        Simulator sim({"--turnaround", "20"});
        QVERIFY(!sim.path.isEmpty());
        QTemporaryDir dir;
        const QString reports = dir.filePath("reports");
        int ends[2] = {-1, -1};
        QCOMPARE(::pipe2(ends, O_CLOEXEC), 0);
        QProcess poll;
        pipeInto(poll, ends[1], errorsToo);
        poll.start(QStringLiteral(RIOPOLL_PATH),
                   {"--test", writePlan(dir, kPlan), "--device", sim.path, "--report", reports});
        QVERIFY(poll.waitForStarted(5000));
        ::close(ends[1]);
        // The step's progress line: outputs are about to be driven.
        const QByteArray loopback = "riopoll: loopback: board 01";
        if (errorsToo) {
            QVERIFY(readUntil(ends[0], loopback));
        } else {
            QByteArray errors;
            QTRY_VERIFY_WITH_TIMEOUT((errors += poll.readAllStandardError()).contains(loopback),
                                     kPatienceMs);
        }
        ::close(ends[0]);
        QVERIFY(poll.waitForFinished(kPatienceMs));
        QCOMPARE(poll.exitStatus(), QProcess::NormalExit);
        QCOMPARE(poll.exitCode(), 0);

        QTRY_COMPARE_WITH_TIMEOUT(sim.writes().mid(sim.writes().size() - 2),
                                  QStringList({"<- 01W00000000", "-> 01W00000000"}), 5000);
        const QJsonObject result = resultOf(reportFolder(reports));
        QCOMPARE(result["verdict"].toString(), "PASS");
        QCOMPARE(stepOutcomes(result),
                 "communication=pass loopback=pass analog=pass teardown=pass");
    }

    // The line lost in the middle of the loop-back step: that step ends in
    // ERROR, and teardown opens the same device once more to put every output
    // off. The device is a symbolic link, re-pointed to a second simulator as
    // a udev rule re-points a stable name when an adapter comes back.
    void portLostDuringLoopback() {
        Simulator first({"--turnaround", "20"});
        Simulator second({});
        QVERIFY(!first.path.isEmpty() && !second.path.isEmpty());
        QTemporaryDir dir;
        const QString link = dir.filePath("line");
        QVERIFY(QFile::link(first.path, link));
        const QString reports = dir.filePath("reports");
        QProcess poll;
        poll.start(QStringLiteral(RIOPOLL_PATH),
                   {"--test", writePlan(dir, kPlan), "--device", link, "--report", reports});
        QVERIFY(poll.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(first.writes().contains("<- 01W00000010"), kPatienceMs);
        QVERIFY(QFile::link(second.path, dir.filePath("next")));
        QCOMPARE(::rename(qPrintable(dir.filePath("next")), qPrintable(link)), 0);
        first.quit();
        QVERIFY(poll.waitForFinished(kPatienceMs));
        QCOMPARE(poll.exitStatus(), QProcess::NormalExit);
        QCOMPARE(poll.exitCode(), 2);

        QTRY_COMPARE_WITH_TIMEOUT(second.writes(),
                                  QStringList({"<- 01W00000000", "-> 01W00000000"}), 5000);
        const QJsonObject result = resultOf(reportFolder(reports));
        QCOMPARE(result["verdict"].toString(), "ERROR");
        QCOMPARE(stepOutcomes(result),
                 "communication=pass loopback=error analog=skipped teardown=pass");
    }

    // A plan that is not a regular file of at most 1 MiB is refused before
    // anything is sent; a FIFO with no writer does not hold the program.
    void planNotAFile_data() {
        QTest::addColumn<bool>("fifo");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("a FIFO") << true << "not a regular file";
        QTest::newRow("over 1 MiB") << false << "larger than 1 MiB";
    }
    void planNotAFile() {
        QFETCH(bool, fifo);
        QFETCH(QString, refusal);
        Simulator sim({});
        QVERIFY(!sim.path.isEmpty());
        QTemporaryDir dir;
        QString plan;
        if (fifo) {
            plan = dir.filePath("plan.ini");
            QCOMPARE(::mkfifo(qPrintable(plan), 0600), 0);
        } else {
            // A good plan, with a comment that takes it past 1 MiB.
            plan = writePlan(dir, kPlan + "; " + QByteArray(1 << 20, 'x') + "\n");
        }
        const QString reports = dir.filePath("reports");
        QProcess poll;
        poll.start(QStringLiteral(RIOPOLL_PATH),
                   {"--test", plan, "--device", sim.path, "--report", reports});
        QVERIFY(poll.waitForFinished(5000));
        QCOMPARE(poll.exitStatus(), QProcess::NormalExit);
        QCOMPARE(poll.exitCode(), 2);
        const QByteArray errors = poll.readAllStandardError();
        QVERIFY2(errors.contains("cannot read the plan " + plan.toUtf8() + ": " + refusal.toUtf8()),
                 errors.constData());
        QVERIFY(sim.logUpToMarker());
        QCOMPARE(sim.log().size(), 1);
        const QJsonObject result = resultOf(reportFolder(reports));
        QCOMPARE(result["verdict"].toString(), "ERROR");
    }

    // A trace that is a FIFO nobody reads yet: polling waits for a reader,
    // and Ctrl+C ends the wait at once, exit 2, before the port is opened.
    void traceFifoWaitStopped() {
        Simulator sim({});
        QVERIFY(!sim.path.isEmpty());
        QTemporaryDir dir;
        const QString trace = dir.filePath("trace.csv");
        QCOMPARE(::mkfifo(qPrintable(trace), 0600), 0);
        QProcess poll;
        poll.start(QStringLiteral(RIOPOLL_PATH),
                   {"--device", sim.path, "--speed", "115200", "--count", "4", "--trace", trace});
        QVERIFY(poll.waitForStarted(5000));
        QByteArray errors;
        QTRY_VERIFY_WITH_TIMEOUT(
            (errors += poll.readAllStandardError()).contains("waiting for a reader"), 5000);
        QCOMPARE(::kill(pid_t(poll.processId()), SIGINT), 0);
        QVERIFY(poll.waitForFinished(5000));
        QCOMPARE(poll.exitStatus(), QProcess::NormalExit);
        QCOMPARE(poll.exitCode(), 2);
        QVERIFY(sim.logUpToMarker());
        QCOMPARE(sim.log().size(), 1);
    }

    // Polling into a pipe whose reader goes away (`riopoll --count ... |
    // head`) with no trace: nobody would learn the rest, so polling ends
    // early, standard error says why, and the exit status is that of the
    // exchanges made. Carried on to its count the run would take minutes.
    void pollingIntoClosedPipe() {
        Simulator sim({});
        QVERIFY(!sim.path.isEmpty());
        int ends[2] = {-1, -1};
        QCOMPARE(::pipe2(ends, O_CLOEXEC), 0);
        QProcess poll;
        pipeInto(poll, ends[1], false);
        poll.start(QStringLiteral(RIOPOLL_PATH),
                   {"--device", sim.path, "--speed", "115200", "--boards", "01", "--count",
                    "100000", "--interval", "0", "--format", "jsonl"});
        QVERIFY(poll.waitForStarted(5000));
        ::close(ends[1]);
        QVERIFY(readUntil(ends[0], "\n"));
        ::close(ends[0]);
        QVERIFY(poll.waitForFinished(kPatienceMs));
        QCOMPARE(poll.exitStatus(), QProcess::NormalExit);
        QCOMPARE(poll.exitCode(), 0);
        const QByteArray errors = poll.readAllStandardError();
        QVERIFY2(errors.contains("board polls: nobody reads standard output"), errors.constData());
    }

    // Polling for a count of board polls: one object per exchange, and the
    // exit status says whether every exchange was accepted.
    void pollingExitStatus_data() {
        QTest::addColumn<QStringList>("fault");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("outcomes"); // per exchange, in line order
        QTest::newRow("healthy boards: 0")
            << QStringList{} << 0
            << QStringList{"01 read ok", "01 write ok", "02 read ok", "02 write ok",
                           "01 read ok", "01 write ok", "02 read ok", "02 write ok"};
        QTest::newRow("board 02 silent: 1")
            << QStringList{"--behaviour", "02=silent"} << 1
            << QStringList{"01 read ok", "01 write ok", "02 read no-answer", "02 write no-answer",
                           "01 read ok", "01 write ok", "02 read no-answer", "02 write no-answer"};
    }
    void pollingExitStatus() {
        QFETCH(QStringList, fault);
        QFETCH(int, exitCode);
        QFETCH(QStringList, outcomes);
        Simulator sim(fault);
        QVERIFY(!sim.path.isEmpty());
        const Run run =
            riopoll({"--device", sim.path, "--speed", "115200", "--boards", "01,02", "--outputs",
                     "01=00000101", "--count", "4", "--interval", "0", "--format", "jsonl"});
        QCOMPARE(run.exitCode, exitCode);
        QStringList seen;
        QList<QJsonObject> objects;
        for (const QByteArray& line : run.out.split('\n')) {
            if (line.isEmpty())
                continue;
            const QJsonObject object = QJsonDocument::fromJson(line).object();
            objects << object;
            seen << object["address"].toString() + " " + object["kind"].toString() + " " +
                        object["outcome"].toString();
        }
        QCOMPARE(seen, outcomes);
        // Board 01's second read comes after its write of 00000101, which the
        // simulator loops back: <ACK>01R0000010105121023<ETX>.
        QCOMPARE(objects[4]["board"].toInt(), 1);
        QCOMPARE(objects[4]["inputs"].toString(), "00000101");
        QCOMPARE(objects[4]["analog1"].toDouble(), 512.0);
        QCOMPARE(objects[4]["analog2"].toDouble(), 1023.0);
        QVERIFY(objects[4]["response_ms"].isDouble());
        QVERIFY(!objects[1].contains("inputs")); // a write carries no inputs
        if (exitCode == 1) {
            QVERIFY(objects[2]["inputs"].isNull());
            QVERIFY(objects[2]["response_ms"].isNull());
        }
        QVERIFY2(run.err.contains("board 1 (01): 4 exchanges, 4 accepted"), run.err.constData());
    }

    // Polling whose trace stops on a full disk lost its record: exit 2, not 0.
    void traceThatStopsIsNoSuccess() {
        SmallFileSystem disk("8k"); // some 80 rows; the polls below make 400
        if (!disk.why.isEmpty())
            QSKIP(qPrintable(disk.why));
        Simulator sim({});
        QVERIFY(!sim.path.isEmpty());
        const Run run =
            riopoll({"--device", sim.path, "--speed", "115200", "--boards", "01", "--count", "100",
                     "--interval", "0", "--format", "jsonl", "--trace", disk.path + "/trace.csv"});
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains("riopoll: the trace stopped: No space left on device"),
                 run.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestPollProgram)
#include "test_poll_program.moc"
