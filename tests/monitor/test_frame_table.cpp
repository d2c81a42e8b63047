// The line monitor's frame table: its ring keeps the latest 10,000 frames,
// taken in batches; the frame is shown as it came, at the local time; Save…
// writes the trace format, and a save that fails leaves the file as it was;
// the open window follows the newest frame unless scrolled up, and its
// counters follow the line.
#include "monitor/frame_table_model.h"
#include "monitor/line_monitor.h"
#include "trace/counters.h"

#include <QAbstractItemModelTester>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <csignal>
#include <sys/resource.h>

using namespace rio;
using namespace std::chrono;
using namespace std::string_literals;
using exchange::Direction;
using exchange::ExchangeKind;
using exchange::FrameEvent;
using exchange::FrameOutcome;
using monitor::FrameTableModel;

namespace {

const system_clock::time_point kAt = sys_days{year{2026} / December / 8} + hours{5};

// Frame number n, told apart by its time.
FrameEvent numbered(int n) {
    FrameEvent e;
    e.board = n % 3 + 1;
    e.address = "0"s + static_cast<char>('0' + e.board);
    e.direction = n % 2 == 0 ? Direction::Tx : Direction::Rx;
    e.outcome = n % 2 == 0 ? FrameOutcome::None : FrameOutcome::Ok;
    e.bytes = n % 2 == 0 ? "\x05" + e.address + "R\x04"
                         : "\x06" + e.address + "R10000001" + "0512" + "1023" + "\x03";
    e.time = kAt + milliseconds{n};
    return e;
}

int numberOf(const FrameEvent& e) {
    return static_cast<int>(duration_cast<milliseconds>(e.time - kAt).count());
}

// The number of the frame shown at the view's top or bottom line.
int frameAt(monitor::LineMonitor& window, QTableView* view, int y) {
    return numberOf(window.frames().event(view->rowAt(y)));
}

} // namespace

class TestFrameTable : public QObject {
    Q_OBJECT
private slots:
    void ringKeepsTheLatestTenThousand() {
        FrameTableModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);

        // More than fit arrive before the table takes them: the oldest go.
        for (int n = 0; n < 10'005; ++n)
            model.hold(numbered(n));
        QCOMPARE(model.rowCount(), 0);
        model.flush();
        QCOMPARE(model.rowCount(), 10'000);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(removed.count(), 0);
        QCOMPARE(numberOf(model.event(0)), 5);
        QCOMPARE(numberOf(model.event(9'999)), 10'004);

        // A full table makes room with one removal of its oldest rows.
        for (int n = 10'005; n < 10'008; ++n)
            model.hold(numbered(n));
        const FrameTableModel::Batch batch = model.flush();
        QCOMPARE(batch.removed, 3);
        QCOMPARE(batch.inserted, 3);
        QCOMPARE(model.rowCount(), 10'000);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(1).toInt(), 0);
        QCOMPARE(removed.at(0).at(2).toInt(), 2);
        QCOMPARE(inserted.count(), 2);
        QCOMPARE(inserted.at(1).at(1).toInt(), 9'997);
        QCOMPARE(inserted.at(1).at(2).toInt(), 9'999);
        QCOMPARE(numberOf(model.event(0)), 8);
        QCOMPARE(numberOf(model.event(9'999)), 10'007);
        // Frame 10007: a reply from board 3.
        const QModelIndex last = model.index(9'999, FrameTableModel::FrameColumn);
        QCOMPARE(model.data(last).toString(), QStringLiteral("<ACK>03R1000000105121023<ETX>"));
    }

    void frameShownAsItCame() {
        FrameTableModel model;
        FrameEvent reply = numbered(1);
        reply.bytes = "=SUM(A1)\x03";
        reply.outcome = FrameOutcome::RejectedEtx;
        reply.response = microseconds{27351};
        model.hold(reply);
        model.flush();
        QCOMPARE(model.data(model.index(0, FrameTableModel::FrameColumn)).toString(),
                 QStringLiteral("=SUM(A1)<ETX>"));
        QCOMPARE(model.data(model.index(0, FrameTableModel::HexColumn)).toString(),
                 QStringLiteral("3D 53 55 4D 28 41 31 29 03"));
        QCOMPARE(model.data(model.index(0, FrameTableModel::OutcomeColumn)).toString(),
                 QStringLiteral("rejected:etx"));
        QCOMPARE(model.data(model.index(0, FrameTableModel::ResponseColumn)).toString(),
                 QStringLiteral("27.4"));
    }

    void timeIsTheLocalClock() {
        // Half an hour off UTC, so an hour and minute taken from the wrong
        // minute or from UTC show; no zone files needed.
        const QByteArray zone = qgetenv("TZ");
        const auto restoreZone = qScopeGuard([&] {
            if (zone.isNull())
                qunsetenv("TZ");
            else
                qputenv("TZ", zone);
        });
        qputenv("TZ", "<+0530>-05:30");
        FrameTableModel model;
        const std::array<milliseconds, 4> at{-1ms, 59'999ms, 60'000ms, 3'599'999ms};
        for (const milliseconds ms : at) {
            FrameEvent e = numbered(0);
            e.time = kAt + ms;
            model.hold(e);
        }
        model.flush();
        // Rows of different minutes asked in turn, as a repaint may.
        for (const int row : {0, 1, 2, 1, 3, 0}) {
            const qint64 ms =
                duration_cast<milliseconds>(model.event(row).time.time_since_epoch()).count();
            QCOMPARE(model.data(model.index(row, FrameTableModel::TimeColumn)).toString(),
                     QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss.zzz")));
        }
        QCOMPARE(model.data(model.index(2, FrameTableModel::TimeColumn)).toString(),
                 QStringLiteral("10:31:00.000"));
    }

    void saveWritesTheTraceFormat() {
        trace::LineCounters counters;
        monitor::LineMonitor window(counters);
        FrameEvent reply = numbered(1);
        reply.bytes = "=SUM(A1)\x03";
        reply.outcome = FrameOutcome::RejectedEtx;
        window.observer().frame(numbered(0));
        window.observer().frame(reply);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("saved.csv"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("left from before\r\n");
        old.close();
        // Not yet in the table: Save… takes what has arrived all the same.
        QCOMPARE(window.saveTo(path), std::nullopt);

        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll().toStdString(),
                 "time,board,address,direction,kind,frame,hex,outcome,response_ms\r\n"
                 "2026-12-08T05:00:00.000Z,1,01,TX,read,<ENQ>01R<EOT>,05 30 31 52 04,,\r\n"
                 "2026-12-08T05:00:00.001Z,2,02,RX,read,'=SUM(A1)<ETX>,"
                 "3D 53 55 4D 28 41 31 29 03,rejected:etx,\r\n"s);
    }

    // A save that fails part way leaves the chosen file as it was and no
    // half-written file beside it. A file size limit stands in for a full
    // disk: any user may set one, and a write past it fails with EFBIG.
    void failedSaveLeavesTheFileAsItWas() {
        trace::LineCounters counters;
        monitor::LineMonitor window(counters);
        // About 11 kB of rows, well past the limit below.
        for (int n = 0; n < 100; ++n)
            window.observer().frame(numbered(n));

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("saved.csv"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("kept from before\r\n");
        old.close();

        rlimit limit{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlimit unlimited = limit;
        limit.rlim_cur = 4096;
        std::optional<QString> failure;
        {
            // Without it the process would be ended by the signal, not told
            // EFBIG.
            const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            const auto restore = qScopeGuard([&] {
                ::setrlimit(RLIMIT_FSIZE, &unlimited);
                std::signal(SIGXFSZ, oldHandler);
            });
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
            failure = window.saveTo(path);
        }

        QFile kept(path);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("kept from before\r\n"));
        QCOMPARE(
            QDir(dir.path())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList{QStringLiteral("saved.csv")});
        QVERIFY(failure);
        QVERIFY2(failure->startsWith(QStringLiteral("cannot write ")) &&
                     failure->endsWith(QStringLiteral(": File too large")),
                 qPrintable(*failure));
    }

    // The view follows the newest frame unless scrolled up. It repaints only
    // what a batch changed (the new rows, where its scroll bar's handle was
    // and is): what the screen shows must still be what a whole repaint
    // draws, also while the table is young and the handle moves with every
    // batch, and while the oldest rows leave the full ring.
    void viewFollowsTheNewestUnlessScrolledUp() {
        trace::LineCounters counters;
        monitor::LineMonitor window(counters);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* view = window.findChild<QTableView*>(QStringLiteral("frames"));
        QVERIFY(view);
        const int bottom = view->viewport()->height() - 1;
        const auto shown = [&] {
            const QRect at(view->mapTo(&window, QPoint(0, 0)), view->size());
            return window.screen()
                ->grabWindow(window.winId())
                .copy(at)
                .toImage()
                .convertToFormat(QImage::Format_RGB32);
        };
        const auto whole = [&] {
            return view->grab().toImage().convertToFormat(QImage::Format_RGB32);
        };

        int n = 0;
        for (const int batch : {5, 40, 8, 8, 60, 8, 1}) {
            for (const int end = n + batch; n < end;)
                window.observer().frame(numbered(n++));
            QTRY_COMPARE(window.frames().rowCount(), n);
            QTRY_COMPARE(shown(), whole());
        }
        for (; n < 9'990; ++n)
            window.observer().frame(numbered(n));
        QTRY_COMPARE(window.frames().rowCount(), 9'990);
        QCOMPARE(frameAt(window, view, bottom), 9'989);

        // Scrolled up, the rows being read stay put while new frames come in
        // and the oldest leave the full ring above them.
        QScrollBar* bar = view->verticalScrollBar();
        bar->setValue(bar->maximum() / 2);
        const int read = frameAt(window, view, 0);
        for (; n < 10'100; ++n)
            window.observer().frame(numbered(n));
        QTRY_COMPARE(numberOf(window.frames().event(9'999)), 10'099);
        QCOMPARE(frameAt(window, view, 0), read);
        QTRY_COMPARE(shown(), whole());

        // Back at the bottom, the view follows again.
        bar->setValue(bar->maximum());
        for (; n < 10'105; ++n)
            window.observer().frame(numbered(n));
        QTRY_COMPARE(frameAt(window, view, bottom), 10'104);
        QTRY_COMPARE(shown(), whole());
    }

    void countersFollowTheLine() {
        trace::LineCounters counters;
        trace::CountersObserver count(counters);
        monitor::LineMonitor window(counters);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* table = window.findChild<QTableView*>(QStringLiteral("counters"));
        QVERIFY(table);
        const auto exchange = [&] {
            FrameEvent request;
            request.board = 2;
            request.address = "02";
            request.bytes = "\x05"
                            "02R\x04";
            request.time = kAt;
            FrameEvent reply = request;
            reply.direction = Direction::Rx;
            reply.outcome = FrameOutcome::Ok;
            reply.bytes = "\x06"
                          "02R00000001"
                          "0512"
                          "1023"
                          "\x03";
            reply.response = microseconds{27351};
            for (const FrameEvent& e : {request, reply}) {
                count.frame(e);
                window.observer().frame(e);
            }
        };
        const auto cell = [&](monitor::CounterTableModel::Column column) {
            return table->model()->index(1, column).data().toString();
        };
        exchange();
        QTRY_COMPARE(cell(monitor::CounterTableModel::AcceptedColumn), QStringLiteral("1"));
        QCOMPARE(cell(monitor::CounterTableModel::ReadsColumn), QStringLiteral("1"));
        QCOMPARE(cell(monitor::CounterTableModel::LastColumn), QStringLiteral("27.4"));
        exchange();
        QTRY_COMPARE(cell(monitor::CounterTableModel::AcceptedColumn), QStringLiteral("2"));
        QCOMPARE(cell(monitor::CounterTableModel::ReadsColumn), QStringLiteral("2"));
        // Reset with no frame after it, as ComPort Initialize does.
        counters.reset();
        window.refreshCounters();
        QCOMPARE(cell(monitor::CounterTableModel::AcceptedColumn), QStringLiteral("0"));
    }
};

QTEST_MAIN(TestFrameTable)
#include "test_frame_table.moc"
