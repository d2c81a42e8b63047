#include "station/station_window.h"

#include "boardtest/board_test.h"
#include "boardtest/report_files.h"
#include "boardtest/test_start.h"
#include "exchange/exchange.h"
#include "serial/serial_control.h"
#include "station/history_pane.h"
#include "station/shift_pane.h"
#include "store/store_location.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

Q_LOGGING_CATEGORY(lcStation, "rio.station")

namespace rio::station {

namespace {

using namespace std::chrono;
using boardtest::StepOutcome;
using boardtest::Verdict;

constexpr milliseconds kClockPeriod{100};
// Rows of the step table, in the order the test runs them.
const QStringList kSteps = {QStringLiteral("communication"), QStringLiteral("loopback"),
                            QStringLiteral("analog"), QStringLiteral("teardown")};

enum Tab { kTestTab, kHistoryTab, kShiftTab };

enum StepColumn { kStepColumn, kStateColumn, kTimeColumn, kMessageColumn };

QFont pointFont(int points, bool bold = false) {
    QFont font;
    font.setPointSize(points);
    font.setBold(bold);
    return font;
}

QString seconds(milliseconds time) {
    return QStringLiteral("%1 s").arg(double(time.count()) / 1000.0, 0, 'f', 1);
}

} // namespace

StationWindow::StationWindow(StationSettings settings, QWidget* parent)
    : QWidget(parent), m_settings(std::move(settings)), m_station(stationName(m_settings)) {
    setWindowTitle(tr("riostation - %1").arg(m_station));
    // A steady text cursor: a blinking one wakes the idle station twice a
    // second for nothing, and the unit field is in the focus all day.
    QApplication::setCursorFlashTime(0);

    auto* stationLabel = new QLabel(tr("Station %1").arg(m_station));
    stationLabel->setFont(pointFont(kMediumPoints));
    m_operatorLabel = new QLabel;
    m_operatorLabel->setObjectName(QStringLiteral("operatorLabel"));
    m_operatorLabel->setFont(pointFont(kMediumPoints));
    auto* changeOperator = new QPushButton(tr("Change operator (F2)"));
    changeOperator->setObjectName(QStringLiteral("changeOperatorButton"));
    // Buttons take no focus, so that a scanner's keys never land on one;
    // each has its key.
    changeOperator->setFocusPolicy(Qt::NoFocus);
    auto* header = new QHBoxLayout;
    header->addWidget(stationLabel);
    header->addSpacing(24);
    header->addWidget(m_operatorLabel);
    header->addStretch(1);
    m_uploadLabel = new QLabel;
    m_uploadLabel->setObjectName(QStringLiteral("uploadLabel"));
    m_uploadLabel->setWordWrap(true);
    m_uploadLabel->hide();
    header->addWidget(m_uploadLabel, 2);
    header->addWidget(changeOperator);

    m_noticeLabel = new QLabel;
    m_noticeLabel->setObjectName(QStringLiteral("noticeLabel"));
    m_noticeLabel->setWordWrap(true);
    m_noticeLabel->setFont(pointFont(kMediumPoints));
    m_noticeLabel->hide();

    auto* unitLabel = new QLabel(tr("Unit"));
    unitLabel->setFont(pointFont(kLargePoints));
    m_unitField = new QLineEdit;
    m_unitField->setObjectName(QStringLiteral("unitField"));
    m_unitField->setFont(pointFont(kLargePoints));
    m_unitField->setPlaceholderText(tr("scan the serial number"));
    unitLabel->setBuddy(m_unitField);
    auto* unitRow = new QHBoxLayout;
    unitRow->addWidget(unitLabel);
    unitRow->addWidget(m_unitField, 1);

    // Operator page.
    auto* operatorPage = new QWidget;
    auto* operatorPrompt = new QLabel(tr("Scan or type your operator ID, then press Return."));
    operatorPrompt->setFont(pointFont(kLargePoints));
    operatorPrompt->setWordWrap(true);
    m_operatorField = new QLineEdit;
    m_operatorField->setObjectName(QStringLiteral("operatorField"));
    m_operatorField->setFont(pointFont(kLargePoints));
    auto* operatorLayout = new QVBoxLayout(operatorPage);
    operatorLayout->addStretch(1);
    operatorLayout->addWidget(operatorPrompt);
    operatorLayout->addWidget(m_operatorField);
    operatorLayout->addStretch(2);

    // Waiting page.
    auto* waitingPage = new QWidget;
    m_messageLabel = new QLabel;
    m_messageLabel->setObjectName(QStringLiteral("messageLabel"));
    m_messageLabel->setFont(pointFont(kLargePoints));
    m_messageLabel->setWordWrap(true);
    m_messageLabel->setAlignment(Qt::AlignCenter);
    auto* waitingLayout = new QVBoxLayout(waitingPage);
    waitingLayout->addWidget(m_messageLabel);

    // Testing page.
    auto* testingPage = new QWidget;
    m_testingLabel = new QLabel;
    m_testingLabel->setObjectName(QStringLiteral("testingLabel"));
    m_testingLabel->setFont(pointFont(kLargePoints, true));
    m_stepTable = new QTableWidget(int(kSteps.size()), 4);
    m_stepTable->setObjectName(QStringLiteral("stepTable"));
    m_stepTable->setFont(pointFont(kMediumPoints));
    m_stepTable->setHorizontalHeaderLabels({tr("Step"), tr("State"), tr("Time"), tr("Message")});
    m_stepTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_stepTable->horizontalHeader()->setStretchLastSection(true);
    m_stepTable->verticalHeader()->hide();
    m_stepTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_stepTable->setFocusPolicy(Qt::NoFocus);
    m_elapsedLabel = new QLabel;
    m_elapsedLabel->setObjectName(QStringLiteral("elapsedLabel"));
    m_elapsedLabel->setFont(pointFont(kLargePoints));
    m_stopButton = new QPushButton(tr("Stop (Esc)"));
    m_stopButton->setObjectName(QStringLiteral("stopButton"));
    m_stopButton->setFont(pointFont(kLargePoints));
    m_stopButton->setFocusPolicy(Qt::NoFocus);
    auto* testingFoot = new QHBoxLayout;
    testingFoot->addWidget(m_elapsedLabel, 1);
    testingFoot->addWidget(m_stopButton);
    auto* testingLayout = new QVBoxLayout(testingPage);
    testingLayout->addWidget(m_testingLabel);
    testingLayout->addWidget(m_stepTable, 1);
    testingLayout->addLayout(testingFoot);

    // Verdict page: its colour is the verdict's.
    m_verdictPage = new QWidget;
    m_verdictPage->setObjectName(QStringLiteral("verdictPage"));
    m_verdictPage->setAutoFillBackground(true);
    m_verdictLabel = new QLabel;
    m_verdictLabel->setObjectName(QStringLiteral("verdictLabel"));
    m_verdictLabel->setFont(pointFont(kVerdictPoints, true));
    m_verdictLabel->setAlignment(Qt::AlignCenter);
    m_verdictUnitLabel = new QLabel;
    m_verdictUnitLabel->setObjectName(QStringLiteral("verdictUnitLabel"));
    m_verdictUnitLabel->setFont(pointFont(kLargePoints, true));
    m_verdictUnitLabel->setAlignment(Qt::AlignCenter);
    m_verdictDetailLabel = new QLabel;
    m_verdictDetailLabel->setObjectName(QStringLiteral("verdictDetailLabel"));
    m_verdictDetailLabel->setFont(pointFont(kMediumPoints));
    m_verdictDetailLabel->setWordWrap(true);
    m_verdictDetailLabel->setAlignment(Qt::AlignCenter);
    auto* verdictLayout = new QVBoxLayout(m_verdictPage);
    verdictLayout->addWidget(m_verdictLabel, 3);
    verdictLayout->addWidget(m_verdictUnitLabel);
    verdictLayout->addWidget(m_verdictDetailLabel, 1);

    m_stack = new QStackedWidget;
    m_stack->setObjectName(QStringLiteral("stateStack"));
    m_stack->addWidget(operatorPage); // in the order of Page
    m_stack->addWidget(waitingPage);
    m_stack->addWidget(testingPage);
    m_stack->addWidget(m_verdictPage);

    m_history = new HistoryPane;
    m_shift = new ShiftPane;
    m_tabs = new QTabWidget;
    m_tabs->setObjectName(QStringLiteral("viewTabs"));
    m_tabs->tabBar()->setFocusPolicy(Qt::NoFocus);
    m_tabs->addTab(m_stack, tr("Test (F1)")); // in the order of Tab
    m_tabs->addTab(m_history, tr("History (F5)"));
    m_tabs->addTab(m_shift, tr("Shift (F6)"));

    auto* root = new QVBoxLayout(this);
    root->addLayout(header);
    root->addWidget(m_noticeLabel);
    root->addLayout(unitRow);
    root->addWidget(m_tabs, 1);

    connect(m_operatorField, &QLineEdit::returnPressed, this, &StationWindow::operatorEntered);
    connect(m_unitField, &QLineEdit::returnPressed, this, &StationWindow::unitScanned);
    connect(m_stopButton, &QPushButton::clicked, this, &StationWindow::requestStop);
    connect(changeOperator, &QPushButton::clicked, this, [this] {
        if (!m_testing)
            showPage(Page::Operator);
    });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &StationWindow::escape);
    auto* f2 = new QShortcut(QKeySequence(Qt::Key_F2), this);
    connect(f2, &QShortcut::activated, changeOperator, &QPushButton::click);
    const std::pair<Qt::Key, int> tabKeys[] = {
        {Qt::Key_F1, kTestTab}, {Qt::Key_F5, kHistoryTab}, {Qt::Key_F6, kShiftTab}};
    for (const auto& [key, tab] : tabKeys)
        connect(new QShortcut(QKeySequence(key), this), &QShortcut::activated, this,
                [this, tab] { showTab(tab); });
    connect(m_tabs, &QTabWidget::currentChanged, this, [this] { focusUnitField(); });
    m_unitField->installEventFilter(this);
    m_clock.setInterval(kClockPeriod);
    connect(&m_clock, &QTimer::timeout, this, &StationWindow::tick);

    m_messageLabel->setText(tr("Scan a unit's serial number."));
    openStore();
    refreshFigures();
    showPage(Page::Operator);
    resize(1024, 720);
}

StationWindow::~StationWindow() = default;

StationWindow::Page StationWindow::page() const {
    return Page(m_stack->currentIndex());
}

void StationWindow::setOperator(const QString& id) {
    m_operator = id;
    m_operatorLabel->setText(tr("Operator %1").arg(id));
    showPage(Page::Waiting);
}

std::optional<boardtest::Verdict> StationWindow::scan(const QString& serial) {
    if (m_testing || !m_unitField->isEnabled())
        return std::nullopt;
    m_shownVerdict.reset();
    m_unitField->setText(serial);
    unitScanned();
    return m_shownVerdict;
}

void StationWindow::openStore() {
    const store::ParsedLocation location = store::parseStoreLocation(m_settings.store);
    if (!location.location) {
        showStoreProblem(
            tr("the results store '%1' is refused: %2").arg(m_settings.store, location.error));
        return;
    }
    auto opened = store::openStore(*location.location, store::Access::ReadWrite);
    if (!opened) {
        showStoreProblem(tr("the results store cannot be opened: %1").arg(opened.error()));
        return;
    }
    m_store = std::move(opened.value());
    m_storeProblem.clear();
    const store::StoreResult<int> aborted = m_store->abortRunning(m_station);
    if (!aborted) {
        m_store.reset();
        showStoreProblem(tr("the results store cannot be written: %1").arg(aborted.error()));
        return;
    }
    qCInfo(lcStation) << "results store" << m_store->name() << "open for station" << m_station;
    if (location.location->server && !m_uploader) {
        // Opened just now, so it exists with this program's schema.
        auto own = store::openStore(store::StoreLocation{location.location->path},
                                    store::Access::ReadOnly);
        if (own)
            m_ownStore = std::move(own.value());
        m_uploader = std::make_unique<store::BackgroundUploader>(*location.location);
        connect(m_uploader.get(), &store::BackgroundUploader::progress, this,
                &StationWindow::showUpload);
        m_uploader->start();
    }
    if (aborted.value() > 0) {
        const QString text =
            aborted.value() == 1
                ? tr("1 run of this station was still RUNNING from before this start; it is "
                     "now marked ABORTED.")
                : tr("%1 runs of this station were still RUNNING from before this start; they "
                     "are now marked ABORTED.")
                      .arg(aborted.value());
        qCWarning(lcStation).noquote() << text;
        m_noticeLabel->setText(text);
        m_noticeLabel->show();
    } else {
        m_noticeLabel->hide();
    }
}

void StationWindow::showStoreProblem(const QString& text) {
    m_storeProblem = text;
    qCWarning(lcStation).noquote() << text;
    m_noticeLabel->setText(tr("ERROR: %1. No test starts until the store works.").arg(text));
    m_noticeLabel->show();
}

void StationWindow::showUpload(const store::UploadProgress& progress) {
    if (progress.waiting == 0) {
        m_uploadLabel->hide();
        return;
    }
    QString text = progress.waiting < 0 ? tr("Results waiting for the server")
                   : progress.waiting == 1
                       ? tr("1 result waiting for the server")
                       : tr("%1 results waiting for the server").arg(progress.waiting);
    text += progress.reason.isEmpty() ? tr(", sending") : QStringLiteral(": ") + progress.reason;
    m_uploadLabel->setText(text);
    m_uploadLabel->show();
}

void StationWindow::showPage(Page page) {
    m_stack->setCurrentIndex(int(page));
    const bool choosingOperator = page == Page::Operator;
    m_unitField->setEnabled(!choosingOperator);
    if (choosingOperator) {
        m_operatorField->clear();
        m_operatorField->setFocus();
    } else {
        focusUnitField();
    }
}

void StationWindow::focusUnitField() {
    if (m_unitField->isEnabled())
        m_unitField->setFocus();
}

void StationWindow::operatorEntered() {
    const QString id = m_operatorField->text().trimmed();
    if (!id.isEmpty())
        setOperator(id);
}

void StationWindow::unitScanned() {
    // A scan while a test runs is dropped, not kept for later: the unit in
    // the fixture is the one being tested.
    if (m_testing)
        return;
    const QString unit = m_unitField->text().trimmed();
    m_unitField->clear();
    if (!unit.isEmpty()) {
        showTab(kTestTab);
        runTest(unit);
    } else if (m_tabs->currentIndex() == kHistoryTab) {
        m_history->showChosenUnit();
    }
}

void StationWindow::showTab(int tab) {
    if (!m_testing || tab == kTestTab)
        m_tabs->setCurrentIndex(tab);
    focusUnitField();
}

void StationWindow::refreshFigures() {
    m_history->refresh(m_store.get(), m_station);
    m_shift->refresh(m_ownStore ? m_ownStore.get() : m_store.get(), m_station);
}

bool StationWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_unitField && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            const int step = key == Qt::Key_Up ? -1 : 1;
            if (m_tabs->currentIndex() == kHistoryTab) {
                m_history->moveChoice(step);
                return true;
            }
            if (m_tabs->currentIndex() == kShiftTab) {
                m_shift->stepDay(-step);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void StationWindow::escape() {
    if (m_testing)
        requestStop();
    else
        showTab(kTestTab);
}

void StationWindow::requestStop() {
    if (m_testing && !m_stopRequested) {
        m_stopRequested = true;
        m_stopButton->setEnabled(false);
        m_testingLabel->setText(m_testingLabel->text() + tr(" - stopping"));
    }
}

void StationWindow::showRefusal(const QString& text) {
    m_messageLabel->setText(text);
    showPage(Page::Waiting);
}

void StationWindow::runTest(const QString& unit) {
    if (!m_store)
        openStore();
    if (!m_store) {
        boardtest::TestRecord record = boardtest::newRecord(unit, m_station, m_settings.planPath);
        record.message = m_storeProblem;
        record.steps = boardtest::stepsNotRun(nullptr, record.message);
        showVerdict(record, tr("no test starts until the store works"));
        emit testEnded();
        return;
    }
    const boardtest::LoadedPlan loaded = boardtest::loadPlan(m_settings.planPath);
    if (loaded.plan && loaded.plan->unitPattern) {
        const QString pattern = QString::fromStdString(*loaded.plan->unitPattern);
        const QRegularExpression whole(QRegularExpression::anchoredPattern(pattern));
        if (!whole.match(unit).hasMatch()) {
            showRefusal(tr("'%1' is not a serial number this plan takes (%2). Nothing was "
                           "sent; scan the unit's serial number.")
                            .arg(unit, pattern));
            emit testEnded();
            return;
        }
    }

    boardtest::TestRecord record = boardtest::newRecord(unit, m_station, m_settings.planPath);
    record.operatorName = m_operator;
    record.planSha256 = loaded.sha256;
    // The run is in the store as RUNNING before anything can be sent.
    if (const store::StoreStatus begun = m_store->beginRun(record); !begun) {
        showStoreProblem(tr("the results store cannot be written: %1").arg(begun.error()));
        record.message = m_storeProblem;
        record.steps = boardtest::stepsNotRun(nullptr, record.message);
        showVerdict(record, tr("no test starts until the store works"));
        emit testEnded();
        return;
    }

    m_testing = true;
    m_stopRequested = false;
    m_noticeLabel->hide();
    m_unitField->setReadOnly(true);
    m_stopButton->setEnabled(true);
    m_testingLabel->setText(tr("Testing %1, attempt %2").arg(unit).arg(record.attempt));
    prepareSteps(loaded.plan ? &*loaded.plan : nullptr);
    m_stack->setCurrentIndex(int(Page::Testing));
    m_elapsed.start();
    tick();
    m_clock.start();

    if (!loaded.plan) {
        record.message = loaded.message;
        record.steps = boardtest::stepsNotRun(nullptr, record.message);
        finishTest(record);
        return;
    }
    const boardtest::Plan& plan = *loaded.plan;
    record.address = QString::fromLatin1(plan.board.data(), qsizetype(plan.board.size()));
    if (!m_settings.reportDir.isEmpty()) {
        if (const auto refused = boardtest::checkReportFolder(m_settings.reportDir)) {
            record.message = QStringLiteral("no report can be written: %1").arg(*refused);
            record.steps = boardtest::stepsNotRun(&plan, record.message);
            finishTest(record, *refused);
            return;
        }
    }
    std::unique_ptr<serial::QtSerialControl> port;
    try {
        port = boardtest::openTestPort(m_settings.port, plan.speed);
    } catch (const serial::PortError& error) {
        record.message =
            QStringLiteral("could not open the port %1: %2")
                .arg(boardtest::portName(m_settings.port), QString::fromLocal8Bit(error.what()));
        qCWarning(lcStation).noquote() << record.message;
        record.steps = boardtest::stepsNotRun(&plan, record.message);
        finishTest(record);
        return;
    }
    {
        exchange::Line line(*port);
        line.speed() = plan.speed;
        boardtest::BoardTest test(line, plan, [this] { return m_stopRequested; });
        test.setStopReason([] { return QStringLiteral("the operator"); });
        test.setProgress([this](const QString& step) { stepStarted(step); });
        test.setStepDone([this](const boardtest::StepResult& step) { stepDone(step); });
        record.steps = test.run();
    }
    // Closed between tests: the next unit's test opens it again, on the same
    // device or on one plugged in meanwhile.
    port.reset();
    if (m_stopRequested)
        record.message = QStringLiteral("interrupted by the operator");
    finishTest(record);
}

void StationWindow::finishTest(boardtest::TestRecord& record, const QString& reportRefused) {
    record.end = boardtest::WallClock::now();
    QStringList notKept;
    if (!reportRefused.isEmpty()) {
        notKept << tr("report not written: %1").arg(reportRefused);
    } else if (!m_settings.reportDir.isEmpty()) {
        const boardtest::WrittenReport written =
            boardtest::writeReport(m_settings.reportDir, record);
        if (!written.error.isEmpty())
            notKept << tr("report not written: %1").arg(written.error);
    }
    if (const store::StoreStatus completed = m_store->completeRun(record); !completed)
        notKept << tr("result not stored: %1").arg(completed.error());
    else if (m_uploader)
        m_uploader->nudge();
    for (const QString& reason : notKept)
        qCWarning(lcStation).noquote() << record.unit << reason;

    m_clock.stop();
    m_testing = false;
    m_unitField->setReadOnly(false);
    showVerdict(record, notKept.join(QStringLiteral("; ")));
    refreshFigures();
    emit testEnded();
    if (m_closeAfterTest)
        close();
}

void StationWindow::showVerdict(const boardtest::TestRecord& record, const QString& notKept) {
    const Verdict verdict = notKept.isEmpty() ? record.verdict() : Verdict::Error;
    QStringList detail;
    if (!notKept.isEmpty() && record.verdict() != Verdict::Error)
        detail << tr("The board's verdict was %1, but the result was not kept: %2")
                      .arg(boardtest::verdictName(record.verdict()), notKept);
    else if (!notKept.isEmpty() && record.message.isEmpty())
        detail << notKept;
    if (record.verdict() == Verdict::Error && !record.message.isEmpty())
        detail << record.message;
    // FAIL names each failing step; ERROR what stopped the test.
    const StepOutcome shown =
        record.verdict() == Verdict::Fail ? StepOutcome::Fail : StepOutcome::Error;
    if (record.verdict() != Verdict::Pass && record.message.isEmpty())
        for (const boardtest::StepResult& step : record.steps)
            if (step.outcome == shown)
                detail << QStringLiteral("%1: %2").arg(step.name, step.message);
    if (verdict == Verdict::Pass)
        detail << tr("Every step passed.");

    QColor background;
    QColor text;
    switch (verdict) {
    case Verdict::Pass:
        m_verdictLabel->setText(tr("PASS"));
        background = QColor(0x1b, 0x87, 0x3f);
        text = Qt::white;
        break;
    case Verdict::Fail:
        m_verdictLabel->setText(tr("FAIL"));
        background = QColor(0xc6, 0x28, 0x28);
        text = Qt::white;
        break;
    case Verdict::Error:
        m_verdictLabel->setText(tr("ERROR"));
        background = QColor(0xff, 0xb3, 0x00);
        text = Qt::black;
        break;
    }
    QPalette palette = m_verdictPage->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    m_verdictPage->setPalette(palette);
    m_verdictUnitLabel->setText(record.attempt > 0
                                    ? tr("Unit %1, attempt %2").arg(record.unit).arg(record.attempt)
                                    : tr("Unit %1").arg(record.unit));
    m_verdictDetailLabel->setText(detail.join(QLatin1Char('\n')));
    m_shownVerdict = verdict;
    showPage(Page::Verdict);
}

void StationWindow::prepareSteps(const boardtest::Plan* plan) {
    const bool present[] = {!plan || plan->communication, !plan || plan->loopback,
                            !plan || plan->analog1 || plan->analog2, true};
    for (int row = 0; row < int(kSteps.size()); ++row) {
        const auto cell = [&](int column, const QString& text) {
            m_stepTable->setItem(row, column, new QTableWidgetItem(text));
        };
        cell(kStepColumn, kSteps[row]);
        cell(kStateColumn, present[row] ? tr("waiting") : tr("skipped"));
        cell(kTimeColumn, QString());
        cell(kMessageColumn, present[row] ? QString() : tr("not in the plan"));
    }
    m_runningRow = -1;
}

void StationWindow::stepStarted(const QString& name) {
    m_runningRow = int(kSteps.indexOf(name));
    if (m_runningRow < 0)
        return;
    m_stepTable->item(m_runningRow, kStateColumn)->setText(tr("running"));
    m_stepElapsed.start();
}

void StationWindow::stepDone(const boardtest::StepResult& step) {
    const int row = int(kSteps.indexOf(step.name));
    if (row < 0)
        return;
    m_stepTable->item(row, kStateColumn)->setText(boardtest::outcomeName(step.outcome));
    m_stepTable->item(row, kTimeColumn)
        ->setText(step.outcome == StepOutcome::Skipped ? QString() : seconds(step.duration));
    m_stepTable->item(row, kMessageColumn)->setText(step.message);
    if (row == m_runningRow)
        m_runningRow = -1;
}

void StationWindow::tick() {
    m_elapsedLabel->setText(tr("Elapsed %1").arg(seconds(milliseconds(m_elapsed.elapsed()))));
    if (m_runningRow >= 0)
        m_stepTable->item(m_runningRow, kTimeColumn)
            ->setText(seconds(milliseconds(m_stepElapsed.elapsed())));
}

void StationWindow::closeEvent(QCloseEvent* event) {
    // The test ends first, with its teardown: outputs off and the run kept.
    if (m_testing) {
        m_closeAfterTest = true;
        requestStop();
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

} // namespace rio::station
