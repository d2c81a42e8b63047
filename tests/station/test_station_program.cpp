// riostation as a person starts it, in a child process: without a display
// its window cannot open, and it says so in one line and exits with 2.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Generous: a child that has not ended by then hangs.
constexpr int kChildBoundMs = 30000;

} // namespace

class TestStationProgram : public QObject {
    Q_OBJECT
private slots:
    void windowWithoutDisplayEndsWithOneLine_data() {
        QTest::addColumn<QString>("display");
        QTest::newRow("no display") << QString();
        QTest::newRow("a display that does not answer") << QStringLiteral(":99");
    }
    void windowWithoutDisplayEndsWithOneLine() {
        QFETCH(QString, display);
        const QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        if (!display.isEmpty())
            env.insert(QStringLiteral("DISPLAY"), display);
        // Settings kept, if any were, go to the test's own folder.
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
        QProcess child;
        child.setProcessEnvironment(env);
        child.start(QStringLiteral(RIOSTATION_PATH),
                    {"--plan", dir.filePath("plan.ini"), "--device", "/dev/null", "--store",
                     "sqlite:" + dir.filePath("results.sqlite")});
        QVERIFY(child.waitForFinished(kChildBoundMs));
        const QByteArray err = child.readAllStandardError();
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 2);
        QVERIFY2(err.startsWith("riostation: cannot open the window: ") && err.endsWith('\n') &&
                     err.count('\n') == 1,
                 err.constData());
        QVERIFY2(err.contains(display.isEmpty() ? QByteArray("no display")
                                                : "DISPLAY=" + display.toLatin1()),
                 err.constData());
        QCOMPARE(child.readAllStandardOutput(), QByteArray());
        QVERIFY(!QFile::exists(dir.filePath("results.sqlite")));
    }
};

QTEST_GUILESS_MAIN(TestStationProgram)
#include "test_station_program.moc"
