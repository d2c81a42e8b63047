#include "trace/trace_writer.h"

#include "trace/kept_file.h"
#include "trace/trace_format.h"

#include <QFileInfo>
#include <QLoggingCategory>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#ifdef Q_OS_WIN
#include <io.h>
#endif

namespace rio::trace {

namespace {

Q_LOGGING_CATEGORY(lcTrace, "rio.trace", QtInfoMsg)

// Rows are kept on disk at most this often. A sync per row would wake a
// thread and the disk forty times a second on a busy line, most of the
// trace's cost; a power cut loses at most this much of the latest rows.
constexpr std::chrono::milliseconds kSyncSpacing{100};

// What an existing file holds, as far as appending to it goes.
struct ExistingFile {
    QString refusal;     // why it is not appended to; empty when it may be
    bool cutRow = false; // a trace ending in the middle of a row, as a crash leaves it
};

// Only a regular file is looked at: opening a pipe to read it would wait for
// a writer, and a device has no rows. A file that holds anything is appended
// to only when it starts with the trace header, so rows never land at the end
// of someone's notes or another program's data.
ExistingFile lookAt(const QString& path) {
    if (!QFileInfo(path).isFile())
        return {};
    QFile existing(path);
    if (!existing.open(QIODevice::ReadOnly))
        return {QStringLiteral("cannot read it to see that it is a trace file: %1")
                    .arg(existing.errorString()),
                false};
    if (existing.size() == 0)
        return {};
    const QByteArray first = existing.readLine(qint64(kTraceHeader.size()) + 3);
    const QByteArray header(kTraceHeader.data(), qsizetype(kTraceHeader.size()));
    if (first != header + "\r\n" && first != header + "\n")
        return {QStringLiteral("it is not a trace file (its first line is not the trace "
                               "header), and is left as it is"),
                false};
    char last = 0;
    return {{}, existing.seek(existing.size() - 1) && existing.getChar(&last) && last != '\n'};
}

// The file opened for writing without blocking: a FIFO without a reader, or
// a terminal waiting for its carrier, would otherwise hold the program in
// open(), where no stop request reaches it. -1 with errno when it fails.
int openNow(const QByteArray& path, int flags) {
#ifdef Q_OS_WIN
    // No FIFOs or terminals to wait for; bytes as they are, not inherited.
    const int how = _O_BINARY | _O_NOINHERIT;
#else
    const int how = O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
#endif
    for (;;) {
        const int fd = ::open(path.constData(), flags | how, 0666);
        if (fd >= 0 || errno != EINTR)
            return fd;
    }
}

// Opening a FIFO for writing fails with ENXIO while nobody reads it.
bool isFifo(const QByteArray& path) {
#ifdef Q_OS_WIN
    static_cast<void>(path);
    return false;
#else
    struct stat status {};
    return ::stat(path.constData(), &status) == 0 && S_ISFIFO(status.st_mode);
#endif
}

// fdatasync(2); Windows' C runtime has only the whole file's commit.
int syncData(int fd) {
#ifdef Q_OS_WIN
    return ::_commit(fd);
#else
    return ::fdatasync(fd);
#endif
}

} // namespace

TraceWriter::TraceWriter(QObject* parent) : QObject(parent) {}

TraceWriter::~TraceWriter() {
    close();
}

bool TraceWriter::open(const QString& path, const ReaderWait& waitForReader) {
    close();
    m_stopped = false;
    m_reason.clear();

    const ExistingFile existing = lookAt(path);
    m_path = path;
    if (!existing.refusal.isEmpty()) {
        m_reason = existing.refusal;
        return false;
    }
    QIODevice::OpenMode flags = QIODevice::WriteOnly | QIODevice::Unbuffered;
    int systemFlags = O_WRONLY;
    // A device or a pipe has no end to append at.
    const QFileInfo info(path);
    if (!info.exists() || info.isFile()) {
        flags |= QIODevice::Append;
        systemFlags |= O_CREAT | O_APPEND;
    }
    const QByteArray name = QFile::encodeName(path);
    int fd = openNow(name, systemFlags);
    int error = errno;
    while (fd < 0 && error == ENXIO && isFifo(name)) {
        const bool goOn = waitForReader ? waitForReader(kReaderRetry)
                                        : (std::this_thread::sleep_for(kReaderRetry), true);
        if (!goOn) {
            m_reason = QStringLiteral("nobody reads the FIFO");
            return false;
        }
        fd = openNow(name, systemFlags);
        error = errno;
    }
    if (fd < 0) {
        m_reason = errnoText(error);
        return false;
    }
    // Rows are written as before: each write waits until the reader of a FIFO
    // has taken room for it.
#ifndef Q_OS_WIN
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
#endif
    if (!m_file.open(fd, flags, QFileDevice::AutoCloseHandle)) {
        m_reason = m_file.errorString();
        ::close(fd);
        return false;
    }
    startSyncing();

    m_line.clear();
    // A row cut short is ended where it stopped, so the next starts a line.
    if (existing.cutRow)
        m_line += kCsvLineEnd;
    if (m_file.size() == 0) {
        m_line += kTraceHeader;
        m_line += kCsvLineEnd;
    }
    if (!m_line.empty())
        (void)writeLine(); // a failure has stopped the trace and says why
    return true;
}

void TraceWriter::close() {
    stopSyncing();
    if (m_file.isOpen())
        m_file.close();
}

void TraceWriter::frame(const exchange::FrameEvent& event) {
    if (m_stopped || !m_file.isOpen())
        return;
    int syncError = 0;
    {
        const std::lock_guard lock(m_syncMutex);
        syncError = m_syncError;
    }
    if (syncError != 0) {
        stop(errnoText(syncError));
        return;
    }
    m_line.clear();
    appendTraceRow(m_line, event);
    (void)writeLine();
}

bool TraceWriter::writeLine() {
    // An unbuffered QFile hands each write to the system at once; a short
    // write is continued so that the error, if any, comes with its reason.
    const char* data = m_line.data();
    qint64 left = static_cast<qint64>(m_line.size());
    while (left > 0) {
        const qint64 written = m_file.write(data, left);
        if (written <= 0) {
            stop(m_file.errorString());
            return false;
        }
        data += written;
        left -= written;
    }
    bool wake = false;
    {
        const std::lock_guard lock(m_syncMutex);
        m_unsynced = true;
        wake = m_syncerIdle;
    }
    // A syncer that is resting between syncs looks at the rows when it is done.
    if (wake)
        m_syncWake.notify_one();
    return true;
}

void TraceWriter::stop(const QString& reason) {
    m_stopped = true;
    m_reason = reason;
    close();
    qCWarning(lcTrace).noquote() << "trace file" << m_path << "stopped, writing failed:" << reason;
    emit traceStopped(reason);
}

void TraceWriter::startSyncing() {
    const int fd = m_file.handle();
    m_unsynced = false;
    m_syncerIdle = false;
    m_syncError = 0;
    m_syncer = std::jthread([this, fd](std::stop_token stopToken) {
        const auto sync = [this, fd](std::unique_lock<std::mutex>& lock) {
            m_unsynced = false;
            lock.unlock();
            const int failed = syncData(fd) == 0 ? 0 : errno;
            lock.lock();
            // A device or a pipe has nothing to keep: EINVAL. EINTR is retried
            // by the next row's sync.
            if (failed != 0 && failed != EINVAL && failed != EROFS && failed != EINTR)
                m_syncError = failed;
        };
        std::unique_lock lock(m_syncMutex);
        for (;;) {
            m_syncerIdle = true;
            const bool rows = m_syncWake.wait(lock, stopToken, [this] { return m_unsynced; });
            m_syncerIdle = false;
            if (!rows)
                break;
            sync(lock);
            // Rows written meanwhile wait for the next sync: the rows of one
            // board poll are kept together, not one by one.
            if (m_syncWake.wait_for(lock, stopToken, kSyncSpacing, [] { return false; }))
                break;
            if (stopToken.stop_requested())
                break;
        }
        // What was written last is kept before the file closes.
        if (m_unsynced)
            sync(lock);
    });
}

void TraceWriter::stopSyncing() {
    if (!m_syncer.joinable())
        return;
    m_syncer.request_stop();
    m_syncer.join();
}

} // namespace rio::trace
