#pragma once
// What the fault tests share: the real window on a line given by its path,
// the process's own processor time and resident memory, a count of the
// messages the program logs, and a record of every status text shown.

#include "form1.h"
#include "qt_serial_control.h"

#include <QLabel>
#include <QTimer>
#include <QtGlobal>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace rio::faults {

inline const QString kNoAnswer = QString::fromUtf8("응답이 없습니다");
inline const QString kPortFailure = QString::fromUtf8("통신포트를 열 수 없습니다.");

// Port 1 is `path`; no other device of the machine counts.
inline serial::PortMap portMapFor(const std::string& path) {
    serial::PortMap ports([] { return std::vector<serial::PresentDevice>{}; });
    ports.addOverride({1, QString::fromStdString(path)});
    return ports;
}

struct PanelOn {
    explicit PanelOn(const std::string& path) {
        auto control = std::make_unique<serial::QtSerialControl>(portMapFor(path));
        port = control.get();
        form = std::make_unique<panel::Form1>(std::move(control));
        form->setProcessEnd([this](int code) { exits.push_back(code); });
        form->Form_Load();
    }
    serial::QtSerialControl* port = nullptr;
    std::unique_ptr<panel::Form1> form;
    std::vector<int> exits;
};

// Why no pseudo-terminal can be had here, or nothing when one can.
inline std::optional<QString> noPseudoTerminal() {
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0)
        return QStringLiteral("no pseudo-terminal: %1")
            .arg(QString::fromLocal8Bit(std::strerror(errno)));
    ::close(fd);
    return std::nullopt;
}

// Processor time this process has used, all threads.
inline std::chrono::nanoseconds processorTime() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// Resident memory of this process in bytes.
inline long long residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

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
