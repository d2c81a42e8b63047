#pragma once
// The three boards' counters, one row each, read from the line's counters
// whenever refresh() is called. Only the cells whose value changed are told
// to the view, so a refresh repaints a few cells, not the table.

#include "trace/counters.h"

#include <QAbstractTableModel>
#include <QVariant>

#include <array>
#include <optional>

namespace rio::monitor {

class CounterTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        BoardColumn,
        ReadsColumn,
        WritesColumn,
        AcceptedColumn,
        LengthColumn,
        AckColumn,
        CommandColumn,
        EtxColumn,
        AnalogColumn,
        NoAnswerColumn,
        PortColumn,
        LastColumn,
        MedianColumn,
        P95Column,
        MaxColumn,
        FailureColumn,
        ColumnCount
    };

    explicit CounterTableModel(const trace::LineCounters& counters, QObject* parent = nullptr);

    // The counters may have changed: every cell is read again, the response
    // times worked out once per board. True when a cell's text became longer
    // or shorter, so that its column may need another width.
    [[nodiscard]] bool refresh();

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index,
                                int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;

private:
    using Cells = std::array<QVariant, ColumnCount>;
    [[nodiscard]] Cells read(int board) const;

    const trace::LineCounters& m_counters;
    // What each cell shows, as of the last refresh.
    std::array<Cells, trace::kBoardCount> m_cells;
};

} // namespace rio::monitor
