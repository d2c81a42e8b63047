// The line unplugged under a polling panel: the simulator closes its end, in
// the middle of a reply or between polls. The exchange takes its no-answer
// path, polling goes on without a spin or a storm of messages, and "ComPort
// Initialize" reopens the line once it is back. The panel's port 1 is a
// symbolic link, re-pointed to the new line as a udev rule would re-point a
// stable device name.

#include "sim/simulator.h"
#include "tests/faults/fault_support.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace rio::faults;
using namespace std::chrono_literals;

class TestFaultUnplug : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { RIO_SKIP_WITHOUT_PSEUDO_TERMINAL(); }

    void unplugAndPlugBackIn_data() {
        QTest::addColumn<bool>("midReply");
        QTest::newRow("in the middle of a reply") << true;
        QTest::newRow("between polls") << false;
    }
    void unplugAndPlugBackIn() {
        QFETCH(bool, midReply);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString link = dir.filePath(QStringLiteral("line"));
        rio::sim::Simulator sim({.baud = 9600});
        std::string path = sim.start();
        QVERIFY(QFile::link(QString::fromStdString(path), link));

        PanelOn panel(link.toStdString());
        rio::panel::Form1& form = *panel.form;
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QCOMPARE(form.Label3->text(), QStringLiteral("Port No:1   Speed:9600"));
        // Board 1's replies come in three pieces 150 ms apart, so the pull
        // can land between them (the wait lasts 204 ms at 9600 bit/s).
        sim.setBehaviour("01", *rio::sim::parseBehaviour("split:7:150"));
        const auto readsOf01 = [&sim] {
            int n = 0;
            for (const rio::sim::Frame& frame : sim.frames())
                n += frame.direction == rio::sim::Direction::Received && frame.bytes == "\x05"
                                                                                        "01R\x04";
            return n;
        };
        MessageCount messages;
        if (midReply) {
            // Pulled from inside the exchange's wait, 40 ms after the request
            // reached the board: the first piece is out, the second 110 ms off.
            bool pulled = false;
            int busyAtPull = -1;
            QTimer watch;
            watch.setInterval(1);
            connect(&watch, &QTimer::timeout, [&] {
                if (readsOf01() == 1 && form.ReadBusy == 1) {
                    watch.stop();
                    QTimer::singleShot(40, [&] {
                        busyAtPull = form.ReadBusy;
                        sim.hangUp();
                        pulled = true;
                    });
                }
            });
            watch.start();
            QTest::mouseClick(form.Command5, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(pulled, 5000);
            QCOMPARE(busyAtPull, 1);
        } else {
            // A whole cycle with board 1 slow but answering, then the pull
            // while the panel sits between ticks.
            QTest::mouseClick(form.Command5, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(form.Label2[2]->text() == QStringLiteral("#3 Write OK"), 5000);
            QTRY_VERIFY_WITH_TIMEOUT(form.ReadBusy == 0 && form.WriteBusy == 0, 5000);
            sim.hangUp();
        }
        // Every board's next exchange ends as no answer; none hangs.
        for (std::size_t i = 0; i < 3; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(form.Label2[i]->text().contains(kNoAnswer), 5000);
        QVERIFY(!form.MSComm1->portOpen());
        QVERIFY(form.Text2->text().isEmpty());
        QVERIFY(form.Text5->text().isEmpty());

        // Polling goes on at the pace of the timer, not of a failing device:
        // over a second the process stays near idle and logs next to nothing.
        const int messagesBefore = messages.count();
        const auto cpuBefore = processorTimeUsed();
        QTest::qWait(1000);
        const auto used = processorTimeUsed() - cpuBefore;
        const int logged = messages.count() - messagesBefore;
        qInfo("processor time in the second after the unplug: %lld ms; messages logged in it: "
              "%d, since the unplug: %d",
              qlonglong(std::chrono::duration_cast<std::chrono::milliseconds>(used).count()),
              logged, messagesBefore);
        QVERIFY2(used < 500ms, "the panel spins on the unplugged line");
        QVERIFY(logged <= 3);
        QVERIFY(form.Timer1->isActive());
        QCOMPARE(form.Label3->text(), QStringLiteral("Port No:1   Speed:9600"));

        // Plugged back in on a new line: Initialize reopens it, START polls.
        sim.setBehaviour("01", {});
        path = sim.start();
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(QString::fromStdString(path), link));
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QCOMPARE(form.Label3->text(), QStringLiteral("Port No:1   Speed:9600"));
        QVERIFY(form.MSComm1->portOpen());
        QTest::mouseClick(form.Command5, Qt::LeftButton);
        for (std::size_t i = 0; i < 3; ++i)
            QTRY_COMPARE_WITH_TIMEOUT(form.Label2[i]->text(),
                                      QStringLiteral("#%1 Write OK").arg(i + 1), 5000);
        QCOMPARE(form.Text5->text(), QStringLiteral("512"));
        form.Command6_Click();
        QTRY_COMPARE_WITH_TIMEOUT(form.tickNesting(), 0, 5000);
        QCOMPARE(form.ReadBusy, 0);
        QCOMPARE(form.WriteBusy, 0);
    }

    // Initialize pressed while the line is still unplugged: the failure text,
    // no exception, and the next press once it is back opens it.
    void initializeWhileUnplugged() {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("line"));
        rio::sim::Simulator sim;
        std::string path = sim.start();
        QVERIFY(QFile::link(QString::fromStdString(path), link));
        PanelOn panel(link.toStdString());
        QTest::mouseClick(panel.form->Command2, Qt::LeftButton);
        QVERIFY(panel.form->MSComm1->portOpen());
        sim.hangUp();
        QTest::mouseClick(panel.form->Command2, Qt::LeftButton);
        QCOMPARE(panel.form->Label3->text(), kPortFailure);
        QVERIFY(!panel.form->MSComm1->portOpen());
        path = sim.start();
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(QString::fromStdString(path), link));
        QTest::mouseClick(panel.form->Command2, Qt::LeftButton);
        QCOMPARE(panel.form->Label3->text(), QStringLiteral("Port No:1   Speed:9600"));
        panel.form->ReadBoard2();
        QCOMPARE(panel.form->Label2[1]->text(), QStringLiteral("#2 Read OK"));
    }
};

QTEST_MAIN(TestFaultUnplug)
#include "test_fault_unplug.moc"
