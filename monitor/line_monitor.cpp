#include "monitor/line_monitor.h"

#include "monitor/prepared_text_delegate.h"
#include "trace/kept_file.h"
#include "trace/trace_format.h"
#include "trace/trace_writer.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

namespace rio::monitor {

namespace {

// The counters are read once a second, not with every batch of frames:
// repainting their table is as dear as a batch's new rows.
constexpr std::chrono::milliseconds kCounterRefresh{1000};

// Rows of one height and no per-cell sizing, so the view's cost does not
// grow with the rows it holds.
void setUniformRows(QTableView* view) {
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->setWordWrap(false);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
}

} // namespace

LineMonitor::LineMonitor(const trace::LineCounters& counters, QWidget* parent)
    : QWidget(parent, Qt::Window), m_counterModel(counters) {
    setObjectName(QStringLiteral("LineMonitor"));
    setWindowTitle(QStringLiteral("Line monitor"));

    m_counterView = new QTableView;
    m_counterView->setObjectName(QStringLiteral("counters"));
    m_counterView->setModel(&m_counterModel);
    setUniformRows(m_counterView);
    m_counterView->setItemDelegate(new PreparedTextDelegate(m_counterView));
    m_counterView->setSelectionMode(QAbstractItemView::NoSelection);
    m_counterView->setFocusPolicy(Qt::NoFocus);
    // Sized to the contents when shown and when a count gains or loses a
    // digit, never on every refresh: sizing a column lays out all its texts.
    m_counterView->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_counterView->horizontalHeader()->setStretchLastSection(true);
    const int countersHeight =
        m_counterView->horizontalHeader()->sizeHint().height() +
        trace::kBoardCount * m_counterView->verticalHeader()->defaultSectionSize() +
        2 * m_counterView->frameWidth();
    m_counterView->setMinimumHeight(countersHeight);

    m_frameView = new FrameView;
    m_frameView->setObjectName(QStringLiteral("frames"));
    m_frameView->setModel(&m_frameModel);
    setUniformRows(m_frameView);
    auto* frameDelegate = new PreparedTextDelegate(m_frameView);
    frameDelegate->setAlternateRole(FrameTableModel::AlternateRole);
    m_frameView->setItemDelegate(frameDelegate);
    // Column widths from sample texts, never from the rows: sizing to
    // contents would visit every row held.
    QHeaderView* header = m_frameView->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(true);
    const QFontMetrics text = m_frameView->fontMetrics();
    const QFontMetrics fixed(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    constexpr int kPadding = 16;
    const auto width = [&](const QFontMetrics& metrics, const QString& sample) {
        return metrics.horizontalAdvance(sample) + kPadding;
    };
    // A read reply is 21 bytes: 29 characters readable, 62 in hex.
    const int widths[FrameTableModel::ColumnCount] = {
        width(text, QStringLiteral("00:00:00.000")),
        width(text, QStringLiteral("Board")),
        width(text, QStringLiteral("Dir")),
        width(text, QStringLiteral("write")),
        width(fixed, QString(30, QLatin1Char('0'))),
        width(fixed, QString(63, QLatin1Char('0'))),
        width(text, QStringLiteral("rejected:command")),
        width(text, QStringLiteral("Response ms")),
    };
    int tableWidth = 0;
    for (int column = 0; column < FrameTableModel::ColumnCount; ++column) {
        header->resizeSection(column, widths[column]);
        tableWidth += widths[column];
    }

    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(m_counterView);
    split->addWidget(m_frameView);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setChildrenCollapsible(false);
    const int rowHeight = m_frameView->verticalHeader()->defaultSectionSize();
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    split->setSizes({countersHeight + scrollBar, 30 * rowHeight});

    m_pause = new QPushButton(QStringLiteral("Pause"));
    m_pause->setObjectName(QStringLiteral("pause"));
    m_pause->setCheckable(true);
    m_pause->setToolTip(QStringLiteral("Stop adding frames to the table; counters and the trace "
                                       "file go on"));
    auto* clear = new QPushButton(QStringLiteral("Clear"));
    clear->setObjectName(QStringLiteral("clear"));
    auto* save = new QPushButton(QStringLiteral("Save…"));
    save->setObjectName(QStringLiteral("save"));
    save->setToolTip(QStringLiteral("Write the frames in the table to a file in the trace format"));
    m_traceStatus = new QLabel;
    m_traceStatus->setObjectName(QStringLiteral("traceStatus"));
    m_traceStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_traceStatus->hide();

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_pause);
    buttons->addWidget(clear);
    buttons->addWidget(save);
    buttons->addSpacing(12);
    buttons->addWidget(m_traceStatus, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(split, 1);
    layout->addLayout(buttons);

    connect(m_pause, &QPushButton::toggled, this, &LineMonitor::setPaused);
    connect(clear, &QPushButton::clicked, this, &LineMonitor::clearFrames);
    connect(save, &QPushButton::clicked, this, &LineMonitor::saveClicked);

    m_batchTimer.setSingleShot(true);
    m_batchTimer.setInterval(kBatchInterval);
    connect(&m_batchTimer, &QTimer::timeout, this, &LineMonitor::addBatch);
    m_counterTimer.setInterval(kCounterRefresh);
    connect(&m_counterTimer, &QTimer::timeout, this, &LineMonitor::refreshChangedCounters);

    resize(tableWidth + scrollBar + 2 * m_frameView->frameWidth() + 24,
           countersHeight + scrollBar + 34 * rowHeight);
}

LineMonitor::~LineMonitor() = default;

void LineMonitor::take(const exchange::FrameEvent& event) {
    if (!m_paused)
        m_frameModel.hold(event);
    m_countersChanged = true;
    // Hidden, the frames wait in the ring until the window is shown.
    if (m_showing && !m_batchTimer.isActive())
        m_batchTimer.start();
}

void LineMonitor::addBatch() {
    m_batchTimer.stop();
    if (!m_showing) {
        // The view lays itself out once when shown.
        (void)m_frameModel.flush();
        return;
    }
    // Scrolled to the newest, the view follows; scrolled up, it stays on the
    // rows the user is reading while the oldest make room above them.
    if (m_frameModel.heldCount() > 0) {
        m_frameView->beginAppend(m_frameModel.rowsToMakeRoom());
        const FrameTableModel::Batch batch = m_frameModel.flush();
        m_frameView->endAppend(batch.inserted);
    }
}

void LineMonitor::refreshCounters() {
    m_countersChanged = false;
    if (m_counterModel.refresh() && m_showing)
        m_counterView->resizeColumnsToContents();
}

void LineMonitor::refreshChangedCounters() {
    if (m_countersChanged)
        refreshCounters();
}

void LineMonitor::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_showing = true;
    // What arrived while hidden, and the counters as they are now.
    addBatch();
    refreshCounters();
    m_counterView->resizeColumnsToContents();
    m_counterTimer.start();
}

void LineMonitor::hideEvent(QHideEvent* event) {
    // Also when minimised: nothing is painted then either.
    m_showing = false;
    m_batchTimer.stop();
    m_counterTimer.stop();
    QWidget::hideEvent(event);
}

void LineMonitor::setPaused(bool paused) {
    m_paused = paused;
}

void LineMonitor::clearFrames() {
    m_frameModel.clear();
}

void LineMonitor::showTrace(const trace::TraceWriter* writer) {
    if (m_trace)
        disconnect(m_trace, nullptr, this, nullptr);
    m_trace = writer;
    if (!writer) {
        m_traceStatus->hide();
        return;
    }
    m_traceStatus->setToolTip(writer->path());
    if (writer->stopped()) {
        traceStopped(writer->reason());
    } else {
        m_traceStatus->setStyleSheet({});
        m_traceStatus->setText(QStringLiteral("trace: %1").arg(writer->path()));
    }
    m_traceStatus->show();
    connect(writer, &trace::TraceWriter::traceStopped, this, &LineMonitor::traceStopped);
    connect(writer, &QObject::destroyed, this, [this] { showTrace(nullptr); });
}

void LineMonitor::traceStopped(const QString& reason) {
    m_traceStatus->setStyleSheet(QStringLiteral("color: #B00000;"));
    m_traceStatus->setText(QStringLiteral("trace stopped: %1").arg(reason));
    m_traceStatus->show();
}

std::optional<QString> LineMonitor::saveTo(const QString& path) {
    addBatch(); // what has arrived is part of what the table holds
    // Made whole in memory (10,000 rows are about a megabyte) and handed to
    // the disk as a new file that replaces the chosen one only once kept, so
    // a failed save leaves the file there as it was.
    std::string text(trace::kTraceHeader);
    text += trace::kCsvLineEnd;
    for (int row = 0; row < m_frameModel.rowCount(); ++row)
        trace::appendTraceRow(text, m_frameModel.event(row));
    return trace::replaceFile(path, QByteArrayView(text.data(), qsizetype(text.size())));
}

void LineMonitor::saveClicked() {
    const QString suggested = QDir::home().filePath(
        QStringLiteral("trace-%1.csv")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save frames"), suggested,
                                     QStringLiteral("Trace files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    if (const std::optional<QString> failure = saveTo(path))
        QMessageBox::warning(this, QStringLiteral("Save frames"),
                             QStringLiteral("%1 could not be written: %2").arg(path, *failure));
}

} // namespace rio::monitor
