// Two stations of a line uploading to one server at the same time: each a
// linestation process with an outbox of its own, 200 runs each. What arrived
// is counted on the server through a connection of the test's own; the
// expected counts are worked out by hand from the runs' shape.
#include "tests/support/test_server.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

using rio::test::TestServer;

namespace {

// Two stations recording 200 runs each and the upload after them take a few
// seconds; a slow sanitizer build ten times that.
constexpr int kPatienceMs = 240'000;

} // namespace

class TestLineUpload : public QObject {
    Q_OBJECT

private slots:
    void twoStationsUploadingAtOnceStoreEveryRunOnce();
};

void TestLineUpload::twoStationsUploadingAtOnceStoreEveryRunOnce() {
    const std::optional<TestServer> server = TestServer::fromEnvironment();
    if (!server)
        QSKIP(qPrintable(TestServer::skipReason()));
    const QString db = server->newDatabase(QStringLiteral("line_upload"));
    QVERIFY(!db.isEmpty());
    QTemporaryDir home;
    QVERIFY(home.isValid());

    // Each process its own XDG_DATA_HOME, and so its own outbox.
    std::vector<std::unique_ptr<QProcess>> stations;
    for (const QString& station : {QStringLiteral("st1"), QStringLiteral("st2")}) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(station));
        process->setProcessEnvironment(environment);
        process->start(QStringLiteral(LINESTATION_PATH),
                       {"--store", server->url(db), "--station", station, "--runs", "200",
                        "--steps", "3", "--measurements", "4", "--wait-seconds", "120"});
        QVERIFY2(process->waitForStarted(), qPrintable(process->errorString()));
        stations.push_back(std::move(process));
    }
    for (const auto& process : stations) {
        QVERIFY(process->waitForFinished(kPatienceMs));
        const QByteArray out = process->readAllStandardOutput();
        QVERIFY2(process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0,
                 out + process->readAllStandardError());
        const QJsonObject line = QJsonDocument::fromJson(out).object();
        QCOMPARE(line.value(QStringLiteral("runs")).toInt(), 200);
        QCOMPARE(line.value(QStringLiteral("waiting")).toInt(-1), 0);
    }

    QCOMPARE(server->count(db, QStringLiteral("SELECT count(*) FROM runs")), 400);
    QCOMPARE(server->count(db, QStringLiteral("SELECT count(DISTINCT uuid) FROM runs")), 400);
    QCOMPARE(server->count(db, QStringLiteral("SELECT count(DISTINCT unit) FROM runs")), 400);
    QCOMPARE(server->count(db, QStringLiteral("SELECT count(*) FROM runs WHERE station = 'st1'")),
             200);
    // 400 runs of 3 steps of 4 measurements.
    QCOMPARE(server->count(db, QStringLiteral("SELECT count(*) FROM steps")), 1200);
    QCOMPARE(server->count(db, QStringLiteral("SELECT count(*) FROM measurements")), 4800);
    // Every run with all of its own: no run short of a step, no step short
    // of a measurement.
    QCOMPARE(server->count(db, QStringLiteral("SELECT count(*) FROM runs r WHERE (SELECT "
                                              "count(*) FROM steps s WHERE s.run_id = r.id) <> 3")),
             0);
    QCOMPARE(server->count(db, QStringLiteral("SELECT count(*) FROM steps s WHERE (SELECT count(*) "
                                              "FROM measurements m WHERE m.step_id = s.id) <> 4")),
             0);
    // Every seventh run of a station fails: runs 6, 13, ..., 195, 28 of 200.
    QCOMPARE(server->count(db, QStringLiteral("SELECT count(*) FROM runs WHERE verdict = 'FAIL'")),
             56);
    QCOMPARE(server->count(
                 db, QStringLiteral("SELECT count(*) FROM measurements WHERE outcome = 'fail'")),
             56);
}

QTEST_GUILESS_MAIN(TestLineUpload)
#include "test_line_upload.moc"
