// Operator races: Exit, STOP, START, "ComPort Initialize" and an output
// toggle pressed while an exchange waits for a silent board, in every one of
// their 120 orders. No crash, the busy flags end at 0, Exit is carried out
// once, and the panel still works afterwards. A child process proves the
// real Exit ends the program with code 0 wherever it falls in the order.

#include "sim/simulator.h"
#include "tests/faults/fault_support.h"

#include <QProcess>
#include <QTest>

#include <algorithm>
#include <array>
#include <cstdio>

using namespace rio::faults;

namespace {

enum Action { Exit, Stop, Start, Initialize, Toggle };
const char* const kNames[] = {"Exit", "STOP", "START", "Initialize", "toggle"};

void press(rio::panel::Form1& form, int action) {
    switch (action) {
    case Exit:
        QTest::mouseClick(form.Command1, Qt::LeftButton);
        break;
    case Stop:
        QTest::mouseClick(form.Command6, Qt::LeftButton);
        break;
    case Start:
        QTest::mouseClick(form.Command5, Qt::LeftButton);
        break;
    case Initialize:
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        break;
    case Toggle:
        QTest::mouseClick(form.Command4[0], Qt::LeftButton);
        break;
    }
}

// Board 1 silent at 115200 bit/s: each of its exchanges waits 155 ms.
rio::sim::SimConfig silentFirstBoard() {
    rio::sim::SimConfig config;
    config.baud = 115200;
    config.boards[0].behaviour = *rio::sim::parseBehaviour("silent");
    return config;
}

// Presses the actions in order from inside board 1's waiting read, 20 ms in,
// pumping events between presses as a person's separate clicks would be.
// Returns whether the read was still waiting when the first press came.
bool raceDuringAWait(rio::panel::Form1& form, const std::array<int, 5>& order) {
    bool waiting = false;
    QTimer::singleShot(20, &form, [&] {
        waiting = form.ReadBusy == 1;
        for (int action : order) {
            press(form, action);
            QCoreApplication::processEvents();
        }
    });
    form.ReadBoard1();
    return waiting;
}

} // namespace

class TestFaultRaces : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { RIO_SKIP_WITHOUT_PSEUDO_TERMINAL(); }

    void everyOrderDuringAWait() {
        rio::sim::Simulator sim(silentFirstBoard());
        PanelOn panel(sim.start());
        rio::panel::Form1& form = *panel.form;
        form.Text8->setText(QStringLiteral("115200"));
        std::array<int, 5> order{Exit, Stop, Start, Initialize, Toggle};
        int orders = 0;
        do {
            const QString name = QStringLiteral("%1 %2 %3 %4 %5")
                                     .arg(kNames[order[0]], kNames[order[1]], kNames[order[2]],
                                          kNames[order[3]], kNames[order[4]]);
            if (!form.MSComm1->portOpen())
                QTest::mouseClick(form.Command2, Qt::LeftButton);
            panel.exits.clear();
            QVERIFY2(raceDuringAWait(form, order), qPrintable(name));
            // Whatever was pressed, board 1's read ended as no answer.
            QVERIFY2(form.Label2[0]->text().contains(kNoAnswer) || form.Label2[0]->text().isEmpty(),
                     qPrintable(name + ": " + form.Label2[0]->text()));
            form.Command6_Click();
            QTRY_COMPARE_WITH_TIMEOUT(form.tickNesting(), 0, 5000);
            QVERIFY2(form.ReadBusy == 0 && form.WriteBusy == 0, qPrintable(name));
            QVERIFY2(panel.exits == std::vector<int>{0}, qPrintable(name));
            ++orders;
        } while (std::next_permutation(order.begin(), order.end()));
        QCOMPARE(orders, 120);
        // Ticks ran inside the waits, and with STOP before START their
        // exchanges began inside them too.
        QVERIFY(form.deepestTickNesting() >= 2);

        // The panel still does its job.
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QCOMPARE(form.Label3->text(), QStringLiteral("Port No:1   Speed:115200"));
        form.ReadBoard2();
        QCOMPARE(form.Label2[1]->text(), QStringLiteral("#2 Read OK"));
        form.WriteBoard3();
        QCOMPARE(form.Label2[2]->text(), QStringLiteral("#3 Write OK"));
    }

    // STOP then START in a wait lets the next tick start an exchange of its
    // own inside it; Exit pressed in that nested exchange still ends at once.
    void exitEndsTheProgramWhereverItFalls_data() {
        QTest::addColumn<int>("position");
        for (int p = 0; p < 5; ++p)
            QTest::addRow("Exit pressed %s", QByteArray::number(p + 1).constData()) << p;
    }
    void exitEndsTheProgramWhereverItFalls() {
        QFETCH(int, position);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--child"), QString::number(position)});
        QVERIFY(child.waitForFinished(30000));
        const QByteArray said = child.readAllStandardOutput();
        if (said.startsWith("skip"))
            QSKIP(said.constData());
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(said, QByteArray());
        QCOMPARE(child.exitCode(), 0);
    }
};

// --child P: a panel whose Exit is pressed at position P of STOP, START,
// Initialize, toggle, inside a wait. It should end there with 0; if it gets
// past, it says so and ends with 3.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc > 2 && std::string_view(argv[1]) == "--child") {
        const int position = std::atoi(argv[2]);
        rio::sim::Simulator sim(silentFirstBoard());
        std::string path;
        try {
            path = sim.start();
        } catch (const std::exception& e) {
            std::printf("skip: no pseudo-terminal: %s", e.what());
            return 0;
        }
        rio::panel::Form1 form(std::make_unique<rio::serial::QtSerialControl>(
            portOneIs(QString::fromStdString(path))));
        form.Form_Load();
        form.Text8->setText(QStringLiteral("115200"));
        form.show();
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        std::array<int, 5> order{Stop, Start, Initialize, Toggle, Toggle};
        std::copy_backward(order.begin() + position, order.end() - 1, order.end());
        order[std::size_t(position)] = Exit;
        if (!raceDuringAWait(form, order))
            std::printf("not waiting\n");
        QTimer::singleShot(2000, &app, [] { QCoreApplication::exit(3); });
        QApplication::exec();
        std::printf("still running after Exit\n");
        return 3;
    }
    TestFaultRaces test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_fault_races.moc"
