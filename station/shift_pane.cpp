#include "station/shift_pane.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QDateEdit>
#include <QFormLayout>
#include <QHorizontalBarSeries>
#include <QLabel>
#include <QVBoxLayout>
#include <QValueAxis>

namespace rio::station {

namespace {

// The bars the chart has room for, most frequent first.
constexpr int kParetoBars = 8;
constexpr int kCategoryChars = 60;

boardtest::WallClock::time_point localMidnight(const QDate& day) {
    return boardtest::WallClock::time_point(
        std::chrono::milliseconds(day.startOfDay().toMSecsSinceEpoch()));
}

QString percent(int part, int whole) {
    return whole == 0 ? QStringLiteral("-")
                      : QStringLiteral("%1 %").arg(100.0 * part / whole, 0, 'f', 1);
}

} // namespace

ShiftPane::ShiftPane(QWidget* parent) : QWidget(parent) {
    m_day = new QDateEdit(QDate::currentDate());
    m_day->setObjectName(QStringLiteral("shiftDay"));
    m_day->setCalendarPopup(true);
    m_day->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    m_day->setFocusPolicy(Qt::NoFocus);
    m_units = new QLabel;
    m_units->setObjectName(QStringLiteral("unitsTestedLabel"));
    m_firstPass = new QLabel;
    m_firstPass->setObjectName(QStringLiteral("firstPassYieldLabel"));
    m_final = new QLabel;
    m_final->setObjectName(QStringLiteral("finalYieldLabel"));
    m_problem = new QLabel;
    m_problem->setObjectName(QStringLiteral("shiftProblem"));
    m_problem->hide();
    m_chart = new QChartView;
    m_chart->setObjectName(QStringLiteral("paretoChart"));
    m_chart->setFocusPolicy(Qt::NoFocus);
    m_chart->setRenderHint(QPainter::Antialiasing);

    auto* figures = new QFormLayout;
    figures->addRow(tr("Day (Up and Down change it)"), m_day);
    figures->addRow(tr("Units tested"), m_units);
    figures->addRow(tr("First-pass yield"), m_firstPass);
    figures->addRow(tr("Final yield"), m_final);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(figures);
    layout->addWidget(m_problem);
    layout->addWidget(m_chart, 1);
    connect(m_day, &QDateEdit::dateChanged, this, [this] { showDay(); });
}

void ShiftPane::refresh(store::ResultsStore* results, const QString& station) {
    m_store = results;
    m_station = station;
    showDay();
}

void ShiftPane::stepDay(int days) {
    m_day->setDate(m_day->date().addDays(days));
}

void ShiftPane::showDay() {
    if (!m_store)
        return;
    const QDate day = m_day->date();
    const store::Period period{localMidnight(day), localMidnight(day.addDays(1)), m_station};
    auto figures = m_store->yieldFigures(period);
    auto pareto = m_store->pareto(period);
    if (!figures || !pareto) {
        m_problem->setText(!figures ? figures.error() : pareto.error());
        m_problem->show();
        return;
    }
    m_problem->hide();
    const store::YieldFigures& f = figures.value();
    m_units->setText(QString::number(f.unitsTested));
    m_firstPass->setText(percent(f.firstPass, f.unitsTested));
    m_final->setText(percent(f.finalPass, f.unitsTested));

    // Most frequent at the top: a horizontal bar chart draws its first
    // category at the bottom.
    const std::vector<store::ParetoEntry>& entries = pareto.value();
    const int bars = std::min(int(entries.size()), kParetoBars);
    auto* set = new QBarSet(tr("failures"));
    QStringList categories;
    int most = 0;
    for (int i = bars - 1; i >= 0; --i) {
        const store::ParetoEntry& entry = entries[std::size_t(i)];
        QString label = entry.step + QStringLiteral(": ") + entry.message;
        if (label.size() > kCategoryChars)
            label = label.left(kCategoryChars - 3) + QStringLiteral("...");
        categories << label;
        *set << entry.count;
        most = std::max(most, entry.count);
    }
    auto* series = new QHorizontalBarSeries;
    series->append(set);
    auto* chart = new QChart;
    chart->addSeries(series);
    chart->setTitle(bars == 0 ? tr("No failed steps on %1").arg(day.toString(Qt::ISODate))
                              : tr("Failed steps on %1").arg(day.toString(Qt::ISODate)));
    chart->legend()->hide();
    auto* axisY = new QBarCategoryAxis;
    axisY->append(categories);
    chart->addAxis(axisY, Qt::AlignLeft);
    series->attachAxis(axisY);
    auto* axisX = new QValueAxis;
    axisX->setRange(0, std::max(most, 1));
    axisX->setLabelFormat(QStringLiteral("%d"));
    axisX->setTickCount(std::min(std::max(most, 1), 10) + 1);
    chart->addAxis(axisX, Qt::AlignBottom);
    series->attachAxis(axisX);
    QChart* old = m_chart->chart();
    m_chart->setChart(chart);
    delete old;
}

} // namespace rio::station
