#pragma once
// The line monitor's frames: the latest kCapacity frames in a ring, shown as
// a table. Frames are held as they come and join the table in batches, one
// row insertion per batch, so a busy line costs the view a few repaints a
// second however many frames it carries. Cells are formatted only when the
// view asks for them, which, as it paints only the rows a batch brings, is
// about once per row.

#include "exchange/frame_event.h"
#include "monitor/ring.h"

#include <QAbstractTableModel>
#include <QString>
#include <QVariant>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace rio::monitor {

class FrameTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr std::size_t kCapacity = 10'000;
    enum Column {
        TimeColumn,
        BoardColumn,
        DirectionColumn,
        KindColumn,
        FrameColumn,
        HexColumn,
        OutcomeColumn,
        ResponseColumn,
        ColumnCount
    };
    enum Role {
        // Whether the row is shaded as every other row is: true for every
        // other frame, so that a frame keeps its shade when the oldest leave
        // and the rows below them move up.
        AlternateRole = Qt::UserRole,
    };

    explicit FrameTableModel(QObject* parent = nullptr);

    // Holds a frame for the next flush(); the table does not change yet. Of
    // more than kCapacity held frames the oldest are dropped.
    void hold(const exchange::FrameEvent& event);
    [[nodiscard]] std::size_t heldCount() const { return m_held.size(); }

    struct Batch {
        int removed = 0;  // oldest rows that made room, from row 0
        int inserted = 0; // new rows at the end
    };
    // The held frames become the newest rows: the oldest rows that no longer
    // fit go in one removal, the new ones come in one insertion.
    Batch flush();
    // The oldest rows the next flush() removes to make room.
    [[nodiscard]] int rowsToMakeRoom() const;
    // Rows and held frames.
    void clear();

    [[nodiscard]] const exchange::FrameEvent& event(int row) const;

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index,
                                int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;

private:
    // The local time of day with milliseconds, HH:mm:ss.zzz.
    [[nodiscard]] QString clockText(std::chrono::system_clock::time_point time) const;

    Ring<exchange::FrameEvent> m_rows{kCapacity};
    Ring<exchange::FrameEvent> m_held{kCapacity};
    // During a flush, the oldest rows already announced as removed and about
    // to be overwritten by the new ones.
    std::size_t m_removedFront = 0;
    // How many frames have left the top of the table since it was last
    // cleared: row 0's place in the run of frames, whose parity shades it.
    std::uint64_t m_firstSerial = 0;
    // The same for every cell that has them, made once.
    QVariant m_fixedFont;
    QVariant m_failedBrush;
    QVariant m_rightAligned;
    // The minute of the latest time shown and its local "HH:mm:".
    mutable std::optional<std::chrono::sys_time<std::chrono::minutes>> m_clockMinute;
    mutable QString m_clockPrefix;
};

} // namespace rio::monitor
