#include "counter_table_model.h"

#include "trace_format.h"

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

QString failureCell(const trace::LineCounters& counters, int board) {
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
    refresh();
}

void CounterTableModel::refresh() {
    for (int board = 1; board <= trace::kBoardCount; ++board)
        m_times[static_cast<std::size_t>(board - 1)] = m_counters.responseTimes(board);
    emit dataChanged(index(0, 0), index(trace::kBoardCount - 1, ColumnCount - 1));
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
    const trace::BoardCounts& c = m_counters.counts(board);
    const std::optional<trace::ResponseTimes>& times =
        m_times[static_cast<std::size_t>(index.row())];
    switch (index.column()) {
    case BoardColumn:
        return board;
    case ReadsColumn:
        return QVariant::fromValue(c.readsStarted);
    case WritesColumn:
        return QVariant::fromValue(c.writesStarted);
    case AcceptedColumn:
        return QVariant::fromValue(c.accepted);
    case LengthColumn:
        return QVariant::fromValue(c.rejectedLength);
    case AckColumn:
        return QVariant::fromValue(c.rejectedAck);
    case CommandColumn:
        return QVariant::fromValue(c.rejectedCommand);
    case EtxColumn:
        return QVariant::fromValue(c.rejectedEtx);
    case AnalogColumn:
        return QVariant::fromValue(c.rejectedAnalog);
    case NoAnswerColumn:
        return QVariant::fromValue(c.noAnswer);
    case PortColumn:
        return QVariant::fromValue(c.portFailures);
    case LastColumn:
        return msCell(times, &trace::ResponseTimes::last);
    case MedianColumn:
        return msCell(times, &trace::ResponseTimes::median);
    case P95Column:
        return msCell(times, &trace::ResponseTimes::p95);
    case MaxColumn:
        return msCell(times, &trace::ResponseTimes::max);
    case FailureColumn:
        return failureCell(m_counters, board);
    default:
        return {};
    }
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
