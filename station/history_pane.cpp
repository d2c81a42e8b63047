#include "station/history_pane.h"

#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QVBoxLayout>

namespace rio::station {

namespace {

constexpr int kLatestRuns = 200;

// The store's UTC time as the station's local clock shows it.
QString localTime(const QString& storeTime) {
    const QDateTime time = QDateTime::fromString(storeTime, Qt::ISODateWithMs);
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                          : storeTime;
}

QTableView* runView(RunTableModel* model, const QString& name) {
    auto* view = new QTableView;
    view->setObjectName(name);
    view->setModel(model);
    view->setFocusPolicy(Qt::NoFocus);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->horizontalHeader()->setStretchLastSection(true);
    return view;
}

} // namespace

void RunTableModel::setRuns(std::vector<store::RunSummary> runs) {
    beginResetModel();
    m_runs = std::move(runs);
    endResetModel();
}

int RunTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_runs.size());
}

int RunTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant RunTableModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= int(m_runs.size()))
        return {};
    const store::RunSummary& run = m_runs[std::size_t(index.row())];
    switch (index.column()) {
    case kTime:
        return localTime(run.start);
    case kUnit:
        return run.unit;
    case kAttempt:
        return run.attempt;
    case kStation:
        return run.station;
    case kVerdict:
        return run.verdict;
    case kFailingStep:
        return run.failingStep.isEmpty() ? QString()
                                         : run.failingStep + QStringLiteral(": ") + run.stepMessage;
    }
    return {};
}

QVariant RunTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return {};
    switch (section) {
    case kTime:
        return tr("Time");
    case kUnit:
        return tr("Unit");
    case kAttempt:
        return tr("Attempt");
    case kStation:
        return tr("Station");
    case kVerdict:
        return tr("Verdict");
    case kFailingStep:
        return tr("Failing step");
    }
    return {};
}

HistoryPane::HistoryPane(QWidget* parent) : QWidget(parent) {
    m_latestView = runView(&m_latest, QStringLiteral("latestRunsView"));
    m_latestView->hideColumn(RunTableModel::kStation);
    m_unitView = runView(&m_unitRuns, QStringLiteral("unitRunsView"));
    m_unitLabel = new QLabel(tr("Up and Down choose a run; Return with the unit field empty "
                                "lists every attempt of its unit."));
    m_unitLabel->setObjectName(QStringLiteral("unitRunsLabel"));
    m_problem = new QLabel;
    m_problem->setObjectName(QStringLiteral("historyProblem"));
    m_problem->hide();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("This station's latest runs")));
    layout->addWidget(m_latestView, 3);
    layout->addWidget(m_unitLabel);
    layout->addWidget(m_unitView, 2);
    layout->addWidget(m_problem);
    connect(m_latestView, &QTableView::activated, this, [this] { showChosenUnit(); });
}

void HistoryPane::refresh(store::ResultsStore* results, const QString& station) {
    m_store = results;
    if (!results)
        return;
    const QModelIndex chosen = m_latestView->currentIndex();
    const QString chosenRun =
        chosen.isValid() ? m_latest.runs()[std::size_t(chosen.row())].uuid : QString();
    auto latest = results->latestRuns(station, kLatestRuns);
    if (!latest) {
        m_problem->setText(latest.error());
        m_problem->show();
        return;
    }
    m_problem->hide();
    m_latest.setRuns(std::move(latest.value()));
    int row = 0;
    for (std::size_t i = 0; i < m_latest.runs().size(); ++i)
        if (m_latest.runs()[i].uuid == chosenRun)
            row = int(i);
    if (!m_latest.runs().empty())
        m_latestView->selectRow(row);
}

void HistoryPane::moveChoice(int rows) {
    if (m_latest.runs().empty())
        return;
    const int row =
        std::clamp(m_latestView->currentIndex().row() + rows, 0, int(m_latest.runs().size()) - 1);
    m_latestView->selectRow(row);
}

void HistoryPane::showChosenUnit() {
    const QModelIndex chosen = m_latestView->currentIndex();
    if (chosen.isValid())
        showUnit(m_latest.runs()[std::size_t(chosen.row())].unit);
}

void HistoryPane::showUnit(const QString& unit) {
    if (!m_store)
        return;
    auto runs = m_store->history(unit);
    if (!runs) {
        m_problem->setText(runs.error());
        m_problem->show();
        return;
    }
    m_unitLabel->setText(tr("Every attempt of %1, newest first").arg(unit));
    m_unitRuns.setRuns(std::move(runs.value()));
}

} // namespace rio::station
