#pragma once
// The station's latest runs (time, unit, attempt, verdict, failing step) and,
// for the unit chosen among them, every attempt the store holds of it, from
// any station. Model/view over the store's summaries; the views take no
// focus, so the unit field keeps it: the window moves the choice.

#include "store/results_store.h"

#include <QAbstractTableModel>
#include <QWidget>

#include <vector>

class QLabel;
class QTableView;

namespace rio::station {

class RunTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { kTime, kUnit, kAttempt, kStation, kVerdict, kFailingStep, kColumns };

    void setRuns(std::vector<store::RunSummary> runs);
    [[nodiscard]] const std::vector<store::RunSummary>& runs() const { return m_runs; }

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

private:
    std::vector<store::RunSummary> m_runs;
};

class HistoryPane : public QWidget {
    Q_OBJECT
public:
    explicit HistoryPane(QWidget* parent = nullptr);

    // Reads the station's latest runs again; the chosen row stays on its run.
    void refresh(store::ResultsStore* results, const QString& station);
    // Moves the choice among the latest runs by `rows`.
    void moveChoice(int rows);
    // Lists every attempt of the chosen run's unit.
    void showChosenUnit();

private:
    void showUnit(const QString& unit);

    store::ResultsStore* m_store = nullptr;
    RunTableModel m_latest;
    RunTableModel m_unitRuns;
    QTableView* m_latestView = nullptr;
    QTableView* m_unitView = nullptr;
    QLabel* m_unitLabel = nullptr;
    QLabel* m_problem = nullptr;
};

} // namespace rio::station
