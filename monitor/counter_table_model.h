#pragma once
// The three boards' counters, one row each, read from the line's counters
// whenever refresh() is called.

#include "counters.h"

#include <QAbstractTableModel>

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
    // times worked out once per board.
    void refresh();

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index,
                                int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;

private:
    const trace::LineCounters& m_counters;
    std::array<std::optional<trace::ResponseTimes>, trace::kBoardCount> m_times;
};

} // namespace rio::monitor
