#pragma once
// The line monitor: a window of its own beside the panel, showing the three
// boards' counters live and every frame on the line, newest at the bottom.
// It only listens: closing it hides it, and the line, the panel and the
// trace file go on as before. Frames keep arriving while it is hidden, so it
// shows the latest ones when opened again.

#include "exchange/frame_event.h"
#include "monitor/counter_table_model.h"
#include "monitor/frame_table_model.h"
#include "monitor/frame_view.h"

#include <QString>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <optional>

class QLabel;
class QPushButton;
class QTableView;

namespace rio::trace {
class TraceWriter;
}

namespace rio::monitor {

// The table takes new rows at most this often, so the view repaints at most
// five times a second however busy the line: often enough to read as live,
// and each repaint has a fixed cost (moving the rows shown, the scroll bar)
// besides the new rows' own.
inline constexpr std::chrono::milliseconds kBatchInterval{200};

class LineMonitor : public QWidget {
    Q_OBJECT
public:
    // A window even when given a parent (the panel, so that it closes with
    // it). The counters are read, never changed.
    explicit LineMonitor(const trace::LineCounters& counters, QWidget* parent = nullptr);
    ~LineMonitor() override;

    // What the window listens with: add it to the line's fanout, and remove
    // it before the window is destroyed.
    [[nodiscard]] exchange::FrameObserver& observer() { return m_feed; }

    // Shows the trace file being written, and "trace stopped" with the reason
    // when a write fails. Nothing shown for none. The writer must outlive the
    // window or be shown as none first.
    void showTrace(const trace::TraceWriter* writer);

    // Writes the frames the table holds in the trace format, replacing the
    // file at `path` only once the new one is whole on disk; the reason when
    // that failed, and the file there is then as it was.
    [[nodiscard]] std::optional<QString> saveTo(const QString& path);

    [[nodiscard]] FrameTableModel& frames() { return m_frameModel; }
    [[nodiscard]] bool paused() const { return m_paused; }

public slots:
    // Reads the counters again, e.g. after they were reset.
    void refreshCounters();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    class Feed : public exchange::FrameObserver {
    public:
        explicit Feed(LineMonitor& window) : m_window(window) {}
        void frame(const exchange::FrameEvent& event) override { m_window.take(event); }

    private:
        LineMonitor& m_window;
    };

    void take(const exchange::FrameEvent& event);
    void addBatch();
    // The counter timer's turn: reads the counters if a frame came since.
    void refreshChangedCounters();
    void setPaused(bool paused);
    void clearFrames();
    void saveClicked();
    void traceStopped(const QString& reason);

    Feed m_feed{*this};
    FrameTableModel m_frameModel;
    CounterTableModel m_counterModel;
    QTableView* m_counterView = nullptr;
    FrameView* m_frameView = nullptr;
    QPushButton* m_pause = nullptr;
    QLabel* m_traceStatus = nullptr;
    QTimer m_batchTimer;   // single shot: the next batch of rows
    QTimer m_counterTimer; // while shown: the counters, once a second
    bool m_paused = false;
    bool m_countersChanged = false; // a frame came since the counters were read
    // Shown and not minimised: frames only join the table, and the counters
    // are only read, while someone can see them.
    bool m_showing = false;
    const trace::TraceWriter* m_trace = nullptr;
};

} // namespace rio::monitor
