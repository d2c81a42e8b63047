// A flood on the line: a megabyte of random bytes with no ETX among them in
// answer to a read, a flood that goes on through the whole wait and beyond,
// and a write reply that is accepted at its ETX and then goes on for a
// megabyte. Memory stays bounded, the wait ends on its poll limit, the window
// keeps up, and the next exchanges work once the line is quiet.

#include "tests/faults/fault_support.h"
#include "tests/faults/scripted_line.h"

#include <QElapsedTimer>
#include <QTest>

using namespace rio::faults;
using namespace std::chrono_literals;

namespace {

constexpr std::size_t kFlood = 1 << 20;
constexpr std::size_t kEndless = std::size_t(1) << 30; // far more than one wait takes

// Under AddressSanitizer freed memory is held back in its quarantine (256 MB
// by default) rather than reused, so resident memory there says nothing
// about the panel's.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryMeasured = false;
#else
constexpr bool kMemoryMeasured = true;
#endif

enum Kind { MegabyteNoEtx, Endless, AfterEtx };

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
    void initTestCase() { RIO_SKIP_WITHOUT_PSEUDO_TERMINAL(); }

    void flood_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("a megabyte without ETX in a read wait") << int(MegabyteNoEtx);
        QTest::newRow("a flood through the whole wait and on") << int(Endless);
        QTest::newRow("a write reply with a megabyte after its ETX") << int(AfterEtx);
    }
    void flood() {
        QFETCH(int, kind);
        const bool afterEtx = kind == AfterEtx;
        ScriptedLine line;
        PanelOn panel(line.path());
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
        line.setAnswer([&](const rio::sim::Request& request) -> std::optional<std::string> {
            if (flooded || request.address != "01" || request.command != (afterEtx ? 'W' : 'R'))
                return std::nullopt;
            flooded = true;
            if (kind == Endless)
                return std::string(); // board 1 says nothing; the flood goes on
            std::string head = afterEtx ? "\x06"
                                          "01W00000000\x03"
                                        : "";
            return head + ScriptedLine::noise(kFlood, 7);
        });
        if (kind == Endless)
            line.flood(kEndless);
        Freeze freeze;
        QElapsedTimer took;
        took.start();
        afterEtx ? form.WriteBoard1() : form.ReadBoard1();
        const qint64 exchangeMs = took.elapsed();
        QTest::qWait(20); // lets the watch take its last turn
        qInfo("exchange: %lld ms; longest freeze: %lld ms; resident before %lld KiB, most %lld "
              "KiB; still queued: %zu bytes",
              exchangeMs, freeze.longest, residentBefore / 1024, freeze.resident / 1024,
              line.pending());
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
        // The test's own copy of the megabyte is in there too.
        if (kMemoryMeasured)
            QVERIFY(freeze.resident - residentBefore < 16ll << 20);

        // Polling goes on; each request drops what the flood left waiting.
        // Once the line is quiet, every exchange works again.
        QTest::mouseClick(form.Command5, Qt::LeftButton);
        if (kind == Endless)
            line.quiet();
        QTRY_COMPARE_WITH_TIMEOUT(line.pending(), std::size_t(0), 20000);
        QTest::mouseClick(form.Command5, Qt::LeftButton); // clears the status lines
        for (std::size_t i = 0; i < 3; ++i)
            QTRY_COMPARE_WITH_TIMEOUT(form.Label2[i]->text(),
                                      QStringLiteral("#%1 Write OK").arg(i + 1), 10000);
        form.Command6_Click();
        QTRY_COMPARE_WITH_TIMEOUT(form.tickNesting(), 0, 5000);
        form.ReadBoard1();
        QCOMPARE(form.Label2[0]->text(), QStringLiteral("#1 Read OK"));
        form.Command6_Click();
        QTRY_COMPARE_WITH_TIMEOUT(form.tickNesting(), 0, 5000);
        QCOMPARE(form.ReadBusy, 0);
        QCOMPARE(form.WriteBusy, 0);
        if (kMemoryMeasured)
            QVERIFY(residentBytes() - residentBefore < 16ll << 20);
    }

    // A device that keeps talking while the panel is stopped with the port
    // open: nobody takes input then, and memory must not fill with it.
    void floodWhileStopped() {
        ScriptedLine line;
        PanelOn panel(line.path());
        rio::panel::Form1& form = *panel.form;
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        form.ReadBoard1();
        QCOMPARE(form.Label2[0]->text(), QStringLiteral("#1 Read OK"));
        const long long residentBefore = residentBytes();
        line.flood(kEndless);
        QTest::qWait(2000); // the event loop running with the flood on
        const long long grown = residentBytes() - residentBefore;
        qInfo("resident memory after 2 s of flood while stopped: %+lld KiB", grown / 1024);
        // Held without limit, Qt's buffer grows by megabytes a second here.
        if (kMemoryMeasured)
            QVERIFY(grown < 4ll << 20);
        line.quiet();
        form.ReadBoard2();
        QCOMPARE(form.Label2[1]->text(), QStringLiteral("#2 Read OK"));
    }
};

QTEST_MAIN(TestFaultFlood)
#include "test_fault_flood.moc"
