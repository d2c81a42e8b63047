// A flood on the line: a megabyte of random bytes with no ETX among them in
// answer to a read, and a write reply that is accepted at its ETX and then
// goes on for a megabyte. Memory stays bounded, the wait ends on its poll
// limit, the window keeps up, and the next exchanges work once the line is
// quiet.

#include "fault_support.h"
#include "scripted_line.h"

#include <QElapsedTimer>
#include <QTest>

using namespace rio::faults;
using namespace std::chrono_literals;

namespace {

constexpr std::size_t kFlood = 1 << 20;

// The longest the event loop went without a turn, watched with a 1 ms timer:
// how long the window was frozen.
class Freeze {
public:
    Freeze() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            longest = std::max(longest, m_since.restart());
            resident = std::max(resident, residentBytes());
        });
        m_since.start();
        m_timer.start();
    }
    qint64 longest = 0;     // ms
    long long resident = 0; // bytes, the most seen

private:
    QTimer m_timer;
    QElapsedTimer m_since;
};

} // namespace

class TestFaultFlood : public QObject {
    Q_OBJECT
private slots:
    void flood_data() {
        QTest::addColumn<bool>("afterEtx");
        QTest::newRow("a megabyte without ETX in a read wait") << false;
        QTest::newRow("a write reply with a megabyte after its ETX") << true;
    }
    void flood() {
        QFETCH(bool, afterEtx);
        std::unique_ptr<ScriptedLine> line;
        try {
            line = std::make_unique<ScriptedLine>();
        } catch (const std::exception& e) {
            QSKIP(qPrintable(QStringLiteral("no pseudo-terminal: %1").arg(e.what())));
        }
        PanelOn panel(line->path());
        rio::panel::Form1& form = *panel.form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        // Board 1 answers normally first, so the window has shown everything
        // once before the flood.
        form.ReadBoard1();
        form.WriteBoard1();
        QCOMPARE(form.Label2[0]->text(), QStringLiteral("#1 Write OK"));
        const long long residentBefore = residentBytes();

        bool flooded = false;
        line->setAnswer([&](const rio::sim::Request& request) -> std::optional<std::string> {
            if (flooded || request.address != "01" || request.command != (afterEtx ? 'W' : 'R'))
                return std::nullopt;
            flooded = true;
            std::string head = afterEtx ? "\x06"
                                          "01W00000000\x03"
                                        : "";
            return head + ScriptedLine::noise(kFlood, 7);
        });
        Freeze freeze;
        QElapsedTimer took;
        took.start();
        afterEtx ? form.WriteBoard1() : form.ReadBoard1();
        const qint64 exchangeMs = took.elapsed();
        QTest::qWait(20); // lets the watch take its last turn
        qInfo("exchange: %lld ms; longest freeze: %lld ms; resident before %lld KiB, most %lld "
              "KiB; still queued: %zu bytes",
              exchangeMs, freeze.longest, residentBefore / 1024, freeze.resident / 1024,
              line->pending());
        if (afterEtx) {
            QCOMPARE(form.Label2[0]->text(), QStringLiteral("#1 Write OK"));
            // The box shows the frame's start, not the megabyte.
            QVERIFY(form.Text4->text().startsWith(QString::fromLatin1("\x06"
                                                                      "01W00000000\x03")));
            qInfo("write reply box: %lld characters", qlonglong(form.Text4->text().size()));
            QCOMPARE(form.Text4->text().size(), 257);
            QCOMPARE(form.Text4->text().back(), QChar(0x2026));
        } else {
            QVERIFY(form.Label2[0]->text().contains(kNoAnswer));
            QVERIFY(form.Text2->text().isEmpty());
            // The wait ends on its poll limit: data wakes polls, so it may
            // end sooner than the paced 204 ms, never much later.
            QVERIFY(exchangeMs < 5000);
        }
        QVERIFY2(freeze.longest < 1000, "the window froze");
        // The whole megabyte held once is 1 MiB; allow for Qt's buffers.
        QVERIFY(freeze.resident - residentBefore < 48ll << 20);

        // Once the line is quiet, the next exchanges work.
        QTRY_COMPARE_WITH_TIMEOUT(line->pending(), std::size_t(0), 10000);
        QTest::mouseClick(form.Command5, Qt::LeftButton);
        for (std::size_t i = 0; i < 3; ++i)
            QTRY_COMPARE_WITH_TIMEOUT(form.Label2[i]->text(),
                                      QStringLiteral("#%1 Write OK").arg(i + 1), 10000);
        form.ReadBoard1();
        QCOMPARE(form.Label2[0]->text(), QStringLiteral("#1 Read OK"));
        form.Command6_Click();
        QTRY_COMPARE_WITH_TIMEOUT(form.tickNesting(), 0, 5000);
        QCOMPARE(form.ReadBusy, 0);
        QCOMPARE(form.WriteBusy, 0);
        QVERIFY(residentBytes() - residentBefore < 48ll << 20);
    }
};

QTEST_MAIN(TestFaultFlood)
#include "test_fault_flood.moc"
