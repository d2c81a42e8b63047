// What the panel adds for diagnosis without changing its window: the line
// monitor behind Ctrl+M, the counters behind each board's status line, and the
// reason a port would not open behind the port status line.

#include "panel/form1.h"
#include "tests/support/fake_port.h"

#include <QHelpEvent>
#include <QTableView>
#include <QTest>

using namespace rio::panel;

namespace {

const std::string ack = "\x06", etx = "\x03";

struct Panel {
    rio::test::FakePort* port;
    std::unique_ptr<Form1> form;
};

std::unique_ptr<Panel> openPanel() {
    auto panel = std::make_unique<Panel>();
    auto port = std::make_unique<rio::test::FakePort>();
    panel->port = port.get();
    port->respond = [](const std::string& request) {
        const std::string addr = request.substr(1, 2);
        if (request[3] == 'R')
            return ack + addr + "R" + "00000001" + "0512" + "1023" + etx;
        return ack + addr + "W" + request.substr(4, 8) + etx;
    };
    panel->form = std::make_unique<Form1>(std::move(port));
    panel->form->setProcessEnd([](int) {});
    panel->form->Form_Load();
    panel->form->Command2_Click();
    return panel;
}

QString tooltipOf(QWidget* widget) {
    QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), widget->mapToGlobal(QPoint(2, 2)));
    QCoreApplication::sendEvent(widget, &help);
    return widget->toolTip();
}

} // namespace

class TestDiagnostics : public QObject {
    Q_OBJECT
private slots:
    void ctrlMOpensTheMonitorWhichShowsTheFramesOnTheLine() {
        auto panel = openPanel();
        Form1& form = *panel->form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTest::keyClick(&form, Qt::Key_M, Qt::ControlModifier);
        auto* monitor = qobject_cast<QWidget*>(&form.lineMonitor());
        QTRY_VERIFY_WITH_TIMEOUT(monitor->isVisible(), 2000);
        form.ReadBoard1();
        auto* frames = monitor->findChild<QTableView*>(QStringLiteral("frames"));
        QVERIFY(frames);
        // The request and its reply, readable as they went on the line.
        QTRY_COMPARE_WITH_TIMEOUT(frames->model()->rowCount(), 2, 2000);
        QStringList texts;
        for (int row = 0; row < 2; ++row)
            for (int column = 0; column < frames->model()->columnCount(); ++column)
                texts << frames->model()->index(row, column).data().toString();
        QVERIFY2(texts.contains(QStringLiteral("<ENQ>01R<EOT>")), qPrintable(texts.join('|')));
        QVERIFY2(texts.contains(QStringLiteral("<ACK>01R0000000105121023<ETX>")),
                 qPrintable(texts.join('|')));
        // The panel's own window is untouched and polling is not started.
        QCOMPARE(form.Text2->text().size(), 21);
        QVERIFY(!form.Timer1->isActive());
    }

    void statusTooltipCountsSinceThePortWasOpened() {
        auto panel = openPanel();
        Form1& form = *panel->form;
        form.ReadBoard2();
        form.WriteBoard2();
        QCOMPARE(form.counters().counts(2).accepted, 2u);
        QVERIFY(tooltipOf(form.Label2[1]).contains(QStringLiteral("Accepted 2")));
        QCOMPARE(form.Label2[1]->text(), QStringLiteral("#2 Write OK"));
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QCOMPARE(form.counters().counts(2).accepted, 0u);
        QVERIFY(tooltipOf(form.Label2[1]).contains(QStringLiteral("Accepted 0")));
    }

    void portStatusTooltipGivesTheReason() {
        auto panel = openPanel();
        Form1& form = *panel->form;
        panel->port->inUse = true;
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QCOMPARE(form.Label3->text(), QString::fromUtf8("통신포트를 열 수 없습니다."));
        QVERIFY(!form.Label3->toolTip().isEmpty());
        panel->port->inUse = false;
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        QCOMPARE(form.Label3->text(), QStringLiteral("Port No:1   Speed:9600"));
        QVERIFY(form.Label3->toolTip().isEmpty());
    }
};

QTEST_MAIN(TestDiagnostics)
#include "test_diagnostics.moc"
