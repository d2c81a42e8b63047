#pragma once
// Writes frames to a trace file as they happen, one row each. Every row goes
// to the system in one write as soon as it is made, and a helper thread asks
// the disk to keep what was written (fdatasync), at most ten times a second,
// so a crash of the program loses nothing written and a power cut at most the
// rows of the last tenth of a second; the exchange that told the frame never
// waits for the disk. A write that fails stops the trace for
// good: one warning in the log, the reason kept, and polling goes on.

#include "exchange/frame_event.h"

#include <QFile>
#include <QObject>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace rio::trace {

class TraceWriter : public QObject, public exchange::FrameObserver {
    Q_OBJECT
public:
    // A FIFO with no reader yet cannot be opened for writing; the open tries
    // again every kReaderRetry until a reader comes. Between tries it calls
    // this, which waits up to the time given and returns false to give up.
    // Without one the open waits as long as it takes.
    using ReaderWait = std::function<bool(std::chrono::milliseconds)>;
    static constexpr std::chrono::milliseconds kReaderRetry{100};

    explicit TraceWriter(QObject* parent = nullptr);
    ~TraceWriter() override;

    // Appends to the file: a new or empty one gets the header row first, an
    // existing trace its rows after those it holds. False when the file
    // cannot be opened, or holds something other than a trace (it is left
    // untouched); reason() then says why. A file that opens but will not take
    // its header row (a full disk) gives true and is at once stopped(), as any
    // later failure would leave it. The open itself never blocks: a FIFO
    // waits for its reader through `waitForReader`.
    [[nodiscard]] bool open(const QString& path, const ReaderWait& waitForReader = {});
    // Every row told so far is handed to the system and the file is closed.
    void close();

    [[nodiscard]] bool isOpen() const { return m_file.isOpen(); }
    // True once a write failed; nothing more is written.
    [[nodiscard]] bool stopped() const { return m_stopped; }
    // Why the file could not be opened, or why writing stopped, in the
    // system's words ("No space left on device"); empty otherwise.
    [[nodiscard]] QString reason() const { return m_reason; }
    [[nodiscard]] QString path() const { return m_path; }

    void frame(const exchange::FrameEvent& event) override;

signals:
    // Told once, when a write fails and the trace stops.
    void traceStopped(const QString& reason);

private:
    [[nodiscard]] bool writeLine();
    void stop(const QString& reason);
    void startSyncing();
    void stopSyncing();

    QFile m_file;
    QString m_path;     // the file opened by its descriptor has no name of its own
    std::string m_line; // reused from row to row
    bool m_stopped = false;
    QString m_reason;

    // The helper thread's state: rows written since the last fdatasync,
    // whether it waits for them, and the errno of a failed fdatasync, handed
    // back to the writing thread.
    std::mutex m_syncMutex;
    std::condition_variable_any m_syncWake;
    bool m_unsynced = false;
    bool m_syncerIdle = false; // waiting for rows, not resting after a sync
    int m_syncError = 0;
    std::jthread m_syncer;
};

} // namespace rio::trace
