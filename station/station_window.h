#pragma once
// The operator's screen of a test station: who is testing, a unit field that
// a hand-held scanner types into, the test's steps while it runs, and the
// verdict in letters read from 2 m. The screen is a state machine you can
// see: one page of a QStackedWidget per state,
//   operator  who is testing (at start, and F2 to change);
//   waiting   ready for a scan, or why the last scan was refused;
//   testing   each step's state and the elapsed time; Stop (Esc);
//   verdict   PASS, FAIL or ERROR, until the next scan.
// Beside the Test tab: History (this station's latest runs, a unit's
// attempts) and Shift (a day's yield and the failures' Pareto), F5 and F6;
// F1 or Esc comes back. The unit field keeps the focus on every tab.
// The test runs on the GUI thread like the panel's exchanges: the wait loop
// pumps events, so Stop and Esc are seen during a wait. While idle nothing
// runs: no timer, no polling.
// With a line's server the station keeps every run in its own file first; an
// uploader on its own thread sends them, and the header says how many wait
// and why. The Shift tab reads the station's own file (its runs are all
// there, uploaded or not); a unit's history reads the server.

#include "boardtest/test_record.h"
#include "station/station_settings.h"
#include "store/results_store.h"
#include "store/upload.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTableWidget;
class QTabWidget;

namespace rio::station {

class HistoryPane;
class ShiftPane;

// The verdict's letters, in points: read from 2 m.
inline constexpr int kVerdictPoints = 96;
// The unit field, the unit and attempt under the verdict, the step table.
inline constexpr int kLargePoints = 24;
inline constexpr int kMediumPoints = 16;

class StationWindow : public QWidget {
    Q_OBJECT
public:
    // Opens the store and marks this station's RUNNING runs ABORTED, saying
    // so once.
    explicit StationWindow(StationSettings settings, QWidget* parent = nullptr);
    ~StationWindow() override;

    enum class Page { Operator, Waiting, Testing, Verdict };
    [[nodiscard]] Page page() const;
    [[nodiscard]] bool testing() const { return m_testing; }

    // Sets who is testing, as if entered, and shows the waiting page.
    void setOperator(const QString& id);
    // A scanned serial and Return, as the unit field takes them: the verdict
    // shown once the test has ended, or none when the scan was refused, or
    // dropped because no operator is entered or a test runs.
    [[nodiscard]] std::optional<boardtest::Verdict> scan(const QString& serial);

signals:
    // A test ended and was shown (its verdict, or a refusal before it).
    void testEnded();

protected:
    void closeEvent(QCloseEvent* event) override;
    // Up and Down in the unit field move the choice in History and the day
    // in Shift, so that the field never gives up the focus.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void openStore();
    void operatorEntered();
    void unitScanned();
    void runTest(const QString& unit);
    void finishTest(boardtest::TestRecord& record, const QString& reportRefused = {});
    void requestStop();
    void escape();
    void showPage(Page page);
    void showRefusal(const QString& text);
    void showVerdict(const boardtest::TestRecord& record, const QString& notKept);
    void showStoreProblem(const QString& text);
    void showUpload(const store::UploadProgress& progress);
    void prepareSteps(const boardtest::Plan* plan);
    void stepStarted(const QString& name);
    void stepDone(const boardtest::StepResult& step);
    void tick();
    void focusUnitField();
    void showTab(int tab);
    void refreshFigures();

    StationSettings m_settings;
    QString m_station;
    std::unique_ptr<store::ResultsStore> m_store;
    // With a server: the station's own file for the Shift tab, and the uploader.
    std::unique_ptr<store::ResultsStore> m_ownStore;
    std::unique_ptr<store::BackgroundUploader> m_uploader;
    QLabel* m_uploadLabel = nullptr;
    QString m_storeProblem; // why the store cannot be used; empty when it can
    QString m_operator;
    bool m_testing = false;
    bool m_stopRequested = false;
    bool m_closeAfterTest = false;
    // Runs only while a test runs, for the elapsed time.
    QTimer m_clock;
    QElapsedTimer m_elapsed;
    QElapsedTimer m_stepElapsed;
    int m_runningRow = -1;
    std::optional<boardtest::Verdict> m_shownVerdict;

    QLabel* m_operatorLabel = nullptr;
    QLabel* m_noticeLabel = nullptr;
    QLineEdit* m_unitField = nullptr;
    QTabWidget* m_tabs = nullptr;
    QStackedWidget* m_stack = nullptr;
    QLineEdit* m_operatorField = nullptr;
    QLabel* m_messageLabel = nullptr;
    QTableWidget* m_stepTable = nullptr;
    QLabel* m_testingLabel = nullptr;
    QLabel* m_elapsedLabel = nullptr;
    QPushButton* m_stopButton = nullptr;
    QWidget* m_verdictPage = nullptr;
    QLabel* m_verdictLabel = nullptr;
    QLabel* m_verdictUnitLabel = nullptr;
    QLabel* m_verdictDetailLabel = nullptr;
    HistoryPane* m_history = nullptr;
    ShiftPane* m_shift = nullptr;
};

} // namespace rio::station
