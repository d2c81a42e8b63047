#pragma once
// A day's figures for this station, as docs/station.md defines them: units
// tested, first-pass yield, final yield, and a Pareto chart of the failed
// steps and their messages. Today by default; any day can be chosen.

#include "store/results_store.h"

#include <QDate>
#include <QWidget>

class QChartView;
class QDateEdit;
class QLabel;

namespace rio::station {

class ShiftPane : public QWidget {
    Q_OBJECT
public:
    explicit ShiftPane(QWidget* parent = nullptr);

    // Reads the chosen day's figures again.
    void refresh(store::ResultsStore* results, const QString& station);
    // Chooses the day `days` before or after the one shown.
    void stepDay(int days);

private:
    void showDay();

    store::ResultsStore* m_store = nullptr;
    QString m_station;
    QDateEdit* m_day = nullptr;
    QLabel* m_units = nullptr;
    QLabel* m_firstPass = nullptr;
    QLabel* m_final = nullptr;
    QLabel* m_problem = nullptr;
    QChartView* m_chart = nullptr;
};

} // namespace rio::station
