// The report writer when the disk refuses bytes part way: a report is there
// whole or not at all, and a write interrupted by a signal is made again.
#include "boardtest/report_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cerrno>

using namespace rio::boardtest;
using namespace std::chrono;

namespace {

qint64 g_budget = 0;      // bytes the disk still takes
bool g_interrupt = false; // the next write is interrupted by a signal

// At most 700 bytes a call, so that each file takes several writes, until the
// budget is spent; then ENOSPC, as a disk that fills.
ssize_t limitedWrite(int fd, const void* data, size_t size) {
    if (g_interrupt) {
        g_interrupt = false;
        errno = EINTR;
        return -1;
    }
    if (g_budget <= 0) {
        errno = ENOSPC;
        return -1;
    }
    const size_t most = std::min<size_t>({size, 700, size_t(g_budget)});
    const ssize_t written = ::write(fd, data, most);
    if (written > 0)
        g_budget -= written;
    return written;
}

// Started 2026-12-08T05:12:03Z: the report folder is SN-1-20261208T051203Z.
TestRecord passedRecord() {
    TestRecord record;
    record.unit = QStringLiteral("SN-1");
    record.address = QStringLiteral("01");
    record.host = QStringLiteral("bench");
    record.planFile = QStringLiteral("plan.ini");
    record.start = sys_days{year{2026} / December / 8} + hours{5} + minutes{12} + seconds{3};
    record.end = record.start + seconds{4};
    StepResult communication;
    communication.name = QStringLiteral("communication");
    communication.outcome = StepOutcome::Pass;
    communication.message = QStringLiteral("8 exchanges, 0 not accepted (at most 0)");
    communication.measurements.push_back(
        {QStringLiteral("failures"), 0, QJsonValue(), 0, StepOutcome::Pass});
    record.steps.push_back(communication);
    return record;
}

QStringList everythingIn(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                               QDir::NoDotAndDotDot);
}

} // namespace

class TestReport : public QObject {
    Q_OBJECT
private slots:
    void writeFailureLeavesNothing_data() {
        const TestRecord record = passedRecord();
        QTest::addColumn<qint64>("budget");
        QTest::addColumn<bool>("interrupted");
        QTest::addColumn<QString>("failedFile"); // empty: the report is written
        QTest::newRow("interrupted once, then every byte taken")
            << qint64(1'000'000) << true << QString();
        QTest::newRow("no space from the first byte") << qint64(0) << false << "result.json";
        QTest::newRow("no space in the middle of result.json")
            << qint64(100) << false << "result.json";
        QTest::newRow("no space in measurements.csv, the last file")
            << qint64(resultJson(record).size() + junitXml(record).size() + 10) << false
            << "measurements.csv";
    }
    void writeFailureLeavesNothing() {
        QFETCH(qint64, budget);
        QFETCH(bool, interrupted);
        QFETCH(QString, failedFile);
        QTemporaryDir dir;
        const TestRecord record = passedRecord();
        g_budget = budget;
        g_interrupt = interrupted;
        const WrittenReport written = writeReport(dir.path(), record, limitedWrite);
        if (!failedFile.isEmpty()) {
            QVERIFY(written.folder.isEmpty());
            QVERIFY2(written.error.startsWith(QStringLiteral("cannot write ")) &&
                         written.error.endsWith(QLatin1Char('/') + failedFile +
                                                QStringLiteral(": No space left on device")),
                     qPrintable(written.error));
            QCOMPARE(everythingIn(dir.path()), QStringList());
            return;
        }
        QCOMPARE(written.error, QString());
        QCOMPARE(written.folder, dir.filePath(QStringLiteral("SN-1-20261208T051203Z")));
        QCOMPARE(everythingIn(dir.path()), QStringList{QStringLiteral("SN-1-20261208T051203Z")});
        QCOMPARE(everythingIn(written.folder),
                 QStringList({"junit.xml", "measurements.csv", "result.json"}));
        QFile csv(QDir(written.folder).filePath(QStringLiteral("measurements.csv")));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QCOMPARE(csv.readAll(), QByteArray("step,name,value,low,high,outcome\r\n"
                                           "communication,failures,0,,0,pass\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestReport)
#include "test_report_files.moc"
