#include "monitor/counter_table_model.h"

#include "trace/trace_format.h"

#include <QDateTime>

#include <chrono>

namespace rio::monitor {

namespace {

QVariant msCell(const std::optional<trace::ResponseTimes>& times,
                std::chrono::microseconds trace::ResponseTimes::*which) {
    if (!times)
        return {};
    return QString::fromLatin1(trace::millisecondsText((*times).*which));
}

QVariant failureCell(const trace::LineCounters& counters, int board) {
    const std::optional<trace::LastFailure>& failure = counters.lastFailure(board);
    if (!failure)
        return {};
    const qint64 ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(failure->time.time_since_epoch())
            .count();
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss.zzz ")) +
           QString::fromStdString(counters.lastFailureText(board));
}

} // namespace

CounterTableModel::CounterTableModel(const trace::LineCounters& counters, QObject* parent)
    : QAbstractTableModel(parent), m_counters(counters) {
    (void)refresh();
}

CounterTableModel::Cells CounterTableModel::read(int board) const {
    const trace::BoardCounts& c = m_counters.counts(board);
    const std::optional<trace::ResponseTimes> times = m_counters.responseTimes(board);
    Cells cells;
    cells[BoardColumn] = board;
    cells[ReadsColumn] = QVariant::fromValue(c.readsStarted);
    cells[WritesColumn] = QVariant::fromValue(c.writesStarted);
    cells[AcceptedColumn] = QVariant::fromValue(c.accepted);
    cells[LengthColumn] = QVariant::fromValue(c.rejectedLength);
    cells[AckColumn] = QVariant::fromValue(c.rejectedAck);
    cells[CommandColumn] = QVariant::fromValue(c.rejectedCommand);
    cells[EtxColumn] = QVariant::fromValue(c.rejectedEtx);
    cells[AnalogColumn] = QVariant::fromValue(c.rejectedAnalog);
    cells[NoAnswerColumn] = QVariant::fromValue(c.noAnswer);
    cells[PortColumn] = QVariant::fromValue(c.portFailures);
    cells[LastColumn] = msCell(times, &trace::ResponseTimes::last);
    cells[MedianColumn] = msCell(times, &trace::ResponseTimes::median);
    cells[P95Column] = msCell(times, &trace::ResponseTimes::p95);
    cells[MaxColumn] = msCell(times, &trace::ResponseTimes::max);
    cells[FailureColumn] = failureCell(m_counters, board);
    return cells;
}

bool CounterTableModel::refresh() {
    bool lengthChanged = false;
    for (int row = 0; row < trace::kBoardCount; ++row) {
        const Cells cells = read(row + 1);
        Cells& shown = m_cells[static_cast<std::size_t>(row)];
        for (int column = 0; column < ColumnCount; ++column) {
            const auto c = static_cast<std::size_t>(column);
            if (cells[c] == shown[c])
                continue;
            if (cells[c].toString().size() != shown[c].toString().size())
                lengthChanged = true;
            shown[c] = cells[c];
            const QModelIndex cell = index(row, column);
            emit dataChanged(cell, cell, {Qt::DisplayRole});
        }
    }
    return lengthChanged;
}

int CounterTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : trace::kBoardCount;
}

int CounterTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CounterTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    const int board = index.row() + 1;
    if (role == Qt::ToolTipRole)
        return trace::boardTooltip(m_counters, board);
    if (role == Qt::TextAlignmentRole && index.column() != FailureColumn)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    return m_cells[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())];
}

QVariant CounterTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return {};
    struct Header {
        const char* text;
        const char* tip;
    };
    static constexpr Header kHeaders[ColumnCount] = {
        {"Board", "Board number"},
        {"Reads", "Read exchanges started since the port was opened"},
        {"Writes", "Write exchanges started since the port was opened"},
        {"Accepted", "Replies that passed every test"},
        {"Length", "Rejected: a read reply that is not 21 bytes"},
        {"ACK", "Rejected: position 1 is not ACK"},
        {"Command", "Rejected: position 4 is not the request's command letter"},
        {"ETX", "Rejected: no ETX at the end position"},
        {"Analog", "Rejected: the frame passed, an analog field is not a number"},
        {"No answer", "No ETX within the wait"},
        {"Port failed", "The port failed during the exchange"},
        {"Last ms", "Response time of the latest reply"},
        {"Median ms", "Median response time over the last 1000 replies"},
        {"95th ms", "95th percentile of the response time over the last 1000 replies"},
        {"Max ms", "Longest response time over the last 1000 replies"},
        {"Last failure", "When and how the latest failed exchange ended"},
    };
    if (section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(kHeaders[section].text);
    if (role == Qt::ToolTipRole)
        return QString::fromLatin1(kHeaders[section].tip);
    return {};
}

} // namespace rio::monitor
