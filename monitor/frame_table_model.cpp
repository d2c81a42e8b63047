#include "monitor/frame_table_model.h"

#include "protocol/frame_text.h"
#include "trace/trace_format.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QFontDatabase>

#include <algorithm>
#include <chrono>
#include <utility>

namespace rio::monitor {

namespace {

using exchange::Direction;
using exchange::FrameOutcome;

qint64 epochMs(std::chrono::system_clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

bool failed(const exchange::FrameEvent& event) {
    return event.direction == Direction::Rx && event.outcome != FrameOutcome::Ok;
}

} // namespace

FrameTableModel::FrameTableModel(QObject* parent)
    : QAbstractTableModel(parent), m_fixedFont(QFontDatabase::systemFont(QFontDatabase::FixedFont)),
      m_failedBrush(QBrush(QColor(0xB0, 0x00, 0x00))),
      m_rightAligned(QVariant(Qt::AlignRight | Qt::AlignVCenter)) {}

void FrameTableModel::hold(const exchange::FrameEvent& event) {
    // Assigning into a reused slot keeps its strings' memory.
    exchange::FrameEvent& slot = m_held.push();
    slot = event;
    // The judgement lives only while the event is told.
    slot.judged = nullptr;
}

int FrameTableModel::rowsToMakeRoom() const {
    const std::size_t rows = m_rows.size();
    const std::size_t held = m_held.size();
    // held <= kCapacity, so what must go is never more than the rows there are.
    return static_cast<int>(rows + held > kCapacity ? rows + held - kCapacity : 0);
}

FrameTableModel::Batch FrameTableModel::flush() {
    const std::size_t held = m_held.size();
    if (held == 0)
        return {};
    const std::size_t rows = m_rows.size();
    const auto overflow = static_cast<std::size_t>(rowsToMakeRoom());

    Batch batch;
    if (overflow > 0) {
        beginRemoveRows({}, 0, static_cast<int>(overflow) - 1);
        m_removedFront = overflow;
        m_firstSerial += overflow;
        endRemoveRows();
        batch.removed = static_cast<int>(overflow);
    }
    const int first = static_cast<int>(rows - overflow);
    beginInsertRows({}, first, first + static_cast<int>(held) - 1);
    // The ring's new slots are the removed rows' once it is full; swapping
    // hands the held frames' memory over and takes the old rows' back.
    for (std::size_t i = 0; i < held; ++i)
        std::swap(m_rows.push(), m_held.at(i));
    m_removedFront = 0;
    m_held.clear();
    endInsertRows();
    batch.inserted = static_cast<int>(held);
    return batch;
}

void FrameTableModel::clear() {
    beginResetModel();
    m_rows.clear();
    m_held.clear();
    m_firstSerial = 0;
    endResetModel();
}

const exchange::FrameEvent& FrameTableModel::event(int row) const {
    return m_rows.at(m_removedFront + static_cast<std::size_t>(row));
}

int FrameTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size() - m_removedFront);
}

int FrameTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FrameTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const exchange::FrameEvent& e = event(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case TimeColumn:
            return clockText(e.time);
        case BoardColumn:
            return e.board;
        case DirectionColumn:
            return e.direction == Direction::Tx ? QStringLiteral("TX") : QStringLiteral("RX");
        case KindColumn:
            return e.kind == exchange::ExchangeKind::Read ? QStringLiteral("read")
                                                          : QStringLiteral("write");
        case FrameColumn:
            // As it is: the formula guard belongs to files, not to this view.
            return QString::fromLatin1(protocol::readableFrame(e.bytes));
        case HexColumn:
            return QString::fromLatin1(protocol::hexFrame(e.bytes));
        case OutcomeColumn:
            if (!e.reason.empty())
                return QString::fromLatin1(exchange::outcomeWord(e.outcome)) +
                       QStringLiteral(": ") + QString::fromStdString(e.reason);
            return QString::fromLatin1(exchange::outcomeWord(e.outcome));
        case ResponseColumn:
            if (e.direction == Direction::Rx && e.response)
                return QString::fromLatin1(trace::millisecondsText(*e.response));
            return {};
        default:
            return {};
        }
    case Qt::ToolTipRole:
        if (index.column() == TimeColumn)
            return QString::fromLatin1(trace::isoTime(e.time));
        if (index.column() == OutcomeColumn && !e.reason.empty())
            return QString::fromStdString(e.reason);
        return {};
    case Qt::FontRole:
        if (index.column() == FrameColumn || index.column() == HexColumn)
            return m_fixedFont;
        return {};
    case Qt::ForegroundRole:
        if (failed(e))
            return m_failedBrush;
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() == BoardColumn || index.column() == ResponseColumn)
            return m_rightAligned;
        return {};
    case AlternateRole:
        return (m_firstSerial + static_cast<std::uint64_t>(index.row())) % 2 == 1;
    default:
        return {};
    }
}

QString FrameTableModel::clockText(std::chrono::system_clock::time_point time) const {
    // A zone's offset from UTC, and every change of it, falls on a whole
    // minute, so the local hour and minute are looked up once per minute of
    // frames: each lookup has the C library check the zone file on disk.
    const auto minute = std::chrono::floor<std::chrono::minutes>(time);
    if (m_clockMinute != minute) {
        m_clockMinute = minute;
        m_clockPrefix =
            QDateTime::fromMSecsSinceEpoch(epochMs(minute)).toString(QStringLiteral("HH:mm:"));
    }
    const qint64 inMinute = epochMs(time) - epochMs(minute);
    return m_clockPrefix + QStringLiteral("%1.%2")
                               .arg(inMinute / 1000, 2, 10, QLatin1Char('0'))
                               .arg(inMinute % 1000, 3, 10, QLatin1Char('0'));
}

QVariant FrameTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case TimeColumn:
        return QStringLiteral("Time");
    case BoardColumn:
        return QStringLiteral("Board");
    case DirectionColumn:
        return QStringLiteral("Dir");
    case KindColumn:
        return QStringLiteral("Kind");
    case FrameColumn:
        return QStringLiteral("Frame");
    case HexColumn:
        return QStringLiteral("Hex");
    case OutcomeColumn:
        return QStringLiteral("Outcome");
    case ResponseColumn:
        return QStringLiteral("Response ms");
    default:
        return {};
    }
}

} // namespace rio::monitor
