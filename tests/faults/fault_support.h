#pragma once
// What the fault tests share: the real window on a line given by its path,
// the process's own processor time and resident memory, a count of the
// messages the program logs, and a record of every status text shown.

#include "bench/process_figures/process_figures.h"
#include "panel/form1.h"
#include "tests/support/panel_on.h"
#include "tests/support/pseudo_terminal.h"

#include <QLabel>
#include <QStringList>
#include <QTimer>
#include <QtGlobal>

#include <cstddef>
#include <map>

namespace rio::faults {

inline const QString kNoAnswer = QString::fromUtf8("응답이 없습니다");
inline const QString kPortFailure = QString::fromUtf8("통신포트를 열 수 없습니다.");

// The window on a line as the other tests have it, and this process's
// figures as the benchmark takes them.
using bench::processorTimeUsed;
using bench::residentBytes;
using test::PanelOn;
using test::portOneIs;

// Counts what the program logs through Qt while it lives, and passes it on;
// a device that fails again and again would show here as a storm of
// warnings.
class MessageCount {
public:
    MessageCount() {
        s_count = 0;
        s_previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
                ++s_count;
                if (s_previous)
                    s_previous(type, context, text);
            });
    }
    ~MessageCount() { qInstallMessageHandler(s_previous); }
    [[nodiscard]] int count() const { return s_count; }

private:
    static inline int s_count = 0;
    static inline QtMessageHandler s_previous = nullptr;
};

// Every status text each board showed, sampled on each turn of the event
// loop (at least every millisecond while an exchange waits), counted by text.
class StatusLog {
public:
    explicit StatusLog(const panel::Form1& form) {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this, &form] {
            for (std::size_t i = 0; i < 3; ++i) {
                const QString text = form.Label2[i]->text();
                if (text != m_last[i]) {
                    m_last[i] = text;
                    if (!text.isEmpty())
                        seen[i][text] += 1;
                }
            }
        });
        m_timer.start();
    }
    // Board i (0 to 2): status text → how many times it came up.
    std::map<QString, int> seen[3];

    [[nodiscard]] int count(std::size_t board, const QString& part) const {
        int n = 0;
        for (const auto& [text, times] : seen[board])
            if (text.contains(part))
                n += times;
        return n;
    }
    [[nodiscard]] QString describe(std::size_t board) const {
        QStringList parts;
        for (const auto& [text, times] : seen[board])
            parts << QStringLiteral("%1 x%2").arg(text).arg(times);
        return parts.join(QStringLiteral(", "));
    }

private:
    QTimer m_timer;
    QString m_last[3];
};

} // namespace rio::faults
