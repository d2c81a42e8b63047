// Contention: a second program holding the device. The panel shows the
// failure text and leaves the holder's traffic alone; and the other way
// round, a program that tries the device the panel holds is refused while
// the panel polls on undisturbed.

#include "sim/simulator.h"
#include "tests/faults/fault_support.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QTest>
#include <QThread>

#include <cstdio>

using namespace rio::faults;

namespace {

// The second program: opens port 1 on PATH the way the panel does; says
// "held" or "refused" on its first line. Holding, it reads board 01 thirty
// times and says how many replies came back whole.
int secondProgram(const std::string& path) {
    rio::serial::QtSerialControl port(portOneIs(QString::fromStdString(path)));
    try {
        port.setPortOpen(true);
    } catch (const rio::serial::PortError&) {
        std::printf("refused\n");
        return 0;
    }
    std::printf("held\n");
    std::fflush(stdout);
    // Waits for the panel to try the device before it starts its own reads.
    char go = 0;
    if (std::fread(&go, 1, 1, stdin) != 1)
        return 2;
    int whole = 0;
    for (int i = 0; i < 30; ++i) {
        port.output("\x05"
                    "01R\x04");
        std::string reply;
        QDeadlineTimer deadline(2000);
        while (reply.find('\x03') == std::string::npos && !deadline.hasExpired()) {
            QThread::msleep(2);
            reply += port.input();
        }
        whole += reply.size() == 21;
    }
    std::printf("%d of 30\n", whole);
    return 0;
}

} // namespace

class TestFaultContention : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { RIO_SKIP_WITHOUT_PSEUDO_TERMINAL(); }

    void deviceHeldByAnotherProgram() {
        rio::sim::Simulator sim({.baud = 9600});
        const std::string path = sim.start();
        QProcess holder;
        holder.start(QCoreApplication::applicationFilePath(),
                     {QStringLiteral("--second"), QString::fromStdString(path)});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readLine(), QByteArray("held\n"));

        PanelOn panel(path);
        rio::panel::Form1& form = *panel.form;
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QCOMPARE(form.Label3->text(), kPortFailure);
        QVERIFY(!form.MSComm1->portOpen());
        // START on a port that did not open: no answer on every board, and
        // not a byte on the holder's line.
        QTest::mouseClick(form.Command5, Qt::LeftButton);
        holder.write("g");
        // Polls on while the holder works, with the event loop running.
        QTRY_VERIFY_WITH_TIMEOUT(holder.state() == QProcess::NotRunning, 60000);
        form.Command6_Click();
        QTRY_COMPARE_WITH_TIMEOUT(form.tickNesting(), 0, 5000);
        QVERIFY(form.Label2[0]->text().contains(kNoAnswer));
        QCOMPARE(holder.exitCode(), 0);
        QCOMPARE(holder.readAll(), QByteArray("30 of 30\n"));
    }

    void panelHoldsTheDevice() {
        rio::sim::Simulator sim({.baud = 9600});
        const std::string path = sim.start();
        PanelOn panel(path);
        rio::panel::Form1& form = *panel.form;
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QVERIFY(form.MSComm1->portOpen());
        StatusLog log(form);
        QTest::mouseClick(form.Command5, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(log.count(0, QStringLiteral("OK")) > 0, 5000);

        QProcess other;
        other.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--second"), QString::fromStdString(path)});
        QTRY_VERIFY_WITH_TIMEOUT(other.state() == QProcess::NotRunning, 10000);
        QCOMPARE(other.readAll(), QByteArray("refused\n"));
        // Two more cycles after the attempt, all of them clean.
        const int before = log.count(2, QStringLiteral("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(log.count(2, QStringLiteral("OK")) >= before + 4, 5000);
        form.Command6_Click();
        QTRY_COMPARE_WITH_TIMEOUT(form.tickNesting(), 0, 5000);
        for (std::size_t i = 0; i < 3; ++i) {
            QCOMPARE(log.count(i, kNoAnswer), 0);
            QCOMPARE(log.count(i, QStringLiteral("Error")), 0);
        }
        QVERIFY(form.MSComm1->portOpen());
    }
};

int main(int argc, char** argv) {
    if (argc > 2 && std::string_view(argv[1]) == "--second") {
        QCoreApplication app(argc, argv);
        return secondProgram(argv[2]);
    }
    QApplication app(argc, argv);
    TestFaultContention test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_fault_contention.moc"
