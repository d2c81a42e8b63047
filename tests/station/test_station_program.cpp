// riostation as a person starts it, in a child process: without a display
// its window cannot open, and it says so in one line and exits with 2; a
// picture of the window needs no display.
#include "tests/support/no_display.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Generous: a child that has not ended by then hangs.
constexpr int kChildBoundMs = 30000;

// The environment with no display at all, DISPLAY set when display is given;
// settings kept, if any were, go to the test's folder.
QProcessEnvironment withoutDisplay(const QTemporaryDir& dir, const QString& display = {}) {
    QProcessEnvironment env = rio::test::environmentWithoutDisplay(display);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    return env;
}

// A plan, a line and a store in the test's folder: the station's settings
// are complete and touch nothing outside it.
QStringList settingsIn(const QTemporaryDir& dir) {
    return {"--plan",   dir.filePath("plan.ini"),
            "--device", "/dev/null",
            "--store",  "sqlite:" + dir.filePath("results.sqlite")};
}

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
        QProcess child;
        child.setProcessEnvironment(withoutDisplay(dir, display));
        child.start(QStringLiteral(RIOSTATION_PATH), settingsIn(dir));
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

    void screenshotIsTheWindowsPicture() {
        const QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString picture = dir.filePath(QStringLiteral("station.png"));
        QProcess child;
        child.setProcessEnvironment(withoutDisplay(dir));
        child.start(QStringLiteral(RIOSTATION_PATH), settingsIn(dir) << "--screenshot" << picture);
        QVERIFY(child.waitForFinished(kChildBoundMs));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QVERIFY2(child.exitCode() == 0, child.readAllStandardError().constData());
        const QImage image(picture, "PNG");
        // The window opens at 1024 x 720.
        QCOMPARE(image.size(), QSize(1024, 720));
    }
};

QTEST_GUILESS_MAIN(TestStationProgram)
#include "test_station_program.moc"
