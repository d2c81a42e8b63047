#include "store/upload.h"

#include "store/server_store.h"
#include "store/sqlite_store.h"

#include <QLoggingCategory>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace rio::store {

namespace {

Q_LOGGING_CATEGORY(lcUpload, "rio.store.upload", QtInfoMsg)

using std::chrono::steady_clock;

// Runs read from the outbox at a time, and marked uploaded together: a
// retry after a crash between the two sends runs the server already holds,
// which it keeps once.
constexpr int kBatch = 50;

class OutboxUploader final : public Uploader {
public:
    OutboxUploader(std::unique_ptr<Outbox> outbox, std::unique_ptr<ServerStore> server)
        : m_outbox(std::move(outbox)), m_server(std::move(server)) {}

    UploadProgress upload(steady_clock::time_point deadline) override;
    StoreResult<int> waiting() override { return m_outbox->waitingCount(); }
    void setFaults(UploadFaults faults) override { m_faults = std::move(faults); }

private:
    std::unique_ptr<Outbox> m_outbox;
    std::unique_ptr<ServerStore> m_server;
    UploadFaults m_faults;
};

UploadProgress OutboxUploader::upload(steady_clock::time_point deadline) {
    UploadProgress progress;
    const auto count = [&] {
        const StoreResult<int> waiting = m_outbox->waitingCount();
        progress.waiting = waiting ? waiting.value() : -1;
        if (!waiting && progress.reason.isEmpty())
            progress.reason = waiting.error();
    };
    for (;;) {
        // Counted first and connected next, so that a server that is away
        // costs one count and one refused connection, not a read of runs.
        const StoreResult<int> waiting = m_outbox->waitingCount();
        if (!waiting) {
            progress.reason = waiting.error();
            break;
        }
        if (waiting.value() == 0)
            break;
        if (!m_server->connected()) {
            const StoreStatus connected = m_server->connect(Access::ReadWrite);
            if (!connected) {
                progress.reason = connected.error();
                break;
            }
        }
        StoreResult<std::vector<QueuedRun>> runs = m_outbox->waitingRuns(kBatch);
        if (!runs) {
            progress.reason = runs.error();
            break;
        }
        if (runs.value().empty())
            break;
        std::vector<QString> sent;
        for (const QueuedRun& run : runs.value()) {
            const StoreStatus stored = m_server->storeRun(run, m_faults);
            if (!stored) {
                progress.reason = stored.error();
                break;
            }
            sent.push_back(run.uuid);
            if (steady_clock::now() >= deadline)
                break;
        }
        if (!sent.empty()) {
            const StoreStatus marked = m_outbox->markUploaded(sent);
            if (!marked) {
                progress.reason = marked.error();
                break;
            }
            progress.uploaded += int(sent.size());
        }
        if (!progress.reason.isEmpty() || steady_clock::now() >= deadline)
            break;
    }
    count();
    qCDebug(lcUpload).noquote() << "uploaded" << progress.uploaded << "run(s)," << progress.waiting
                                << "waiting" << progress.reason;
    return progress;
}

// The background uploader's worker, living on its thread.
class UploadWorker final : public QObject {
public:
    UploadWorker(StoreLocation location, BackgroundUploader* owner)
        : m_location(std::move(location)), m_owner(owner) {
        m_retry.setSingleShot(true);
        QObject::connect(&m_retry, &QTimer::timeout, this, [this] { pass(); });
    }

    // A run was completed. While the server is away the back-off stands:
    // the run waits for the next try like the others, so that a station
    // whose server is down does no more work than one without a server.
    void nudged() {
        if (m_failures > 0 && m_retry.isActive())
            return;
        pass();
    }

    void pass() {
        m_retry.stop();
        if (!m_uploader) {
            auto opened = Uploader::open(m_location);
            if (!opened) {
                retry({0, -1, opened.error()});
                return;
            }
            m_uploader = std::move(opened.value());
        }
        // A slice at a time, so that a stop waits for little.
        const UploadProgress progress = m_uploader->upload(steady_clock::now() + kSlice);
        if (!progress.reason.isEmpty()) {
            retry(progress);
            return;
        }
        if (m_failures > 0)
            qCInfo(lcUpload).noquote() << "the server answers again;" << progress.uploaded
                                       << "run(s) sent," << progress.waiting << "waiting";
        m_failures = 0;
        m_lastReason.clear();
        emit m_owner->progress(progress);
        if (progress.waiting > 0)
            m_retry.start(0);
    }

private:
    static constexpr std::chrono::seconds kSlice{2};

    void retry(const UploadProgress& progress) {
        ++m_failures;
        // Once per reason, not once per attempt: a server away for a night
        // would fill the log.
        if (progress.reason != m_lastReason)
            qCWarning(lcUpload).noquote()
                << progress.waiting << "run(s) waiting for the server:" << progress.reason;
        m_lastReason = progress.reason;
        emit m_owner->progress(progress);
        m_retry.start(uploadBackoff(m_failures));
    }

    StoreLocation m_location;
    BackgroundUploader* m_owner;
    std::unique_ptr<Uploader> m_uploader;
    QTimer m_retry{this};
    int m_failures = 0;
    QString m_lastReason;
};

} // namespace

StoreResult<std::unique_ptr<Uploader>> Uploader::open(const StoreLocation& location) {
    using Opened = StoreResult<std::unique_ptr<Uploader>>;
    if (!location.server)
        return Opened::failure(
            QStringLiteral("no server to upload to: the store is %1").arg(describe(location)));
    auto outbox = openOutbox(location.path);
    if (!outbox)
        return Opened::failure(outbox.error());
    return Opened(std::make_unique<OutboxUploader>(std::move(outbox.value()),
                                                   makeServerStore(*location.server)));
}

std::chrono::milliseconds uploadBackoff(int failures) {
    using namespace std::chrono;
    const int doublings = std::clamp(failures - 1, 0, 6);
    return std::min<milliseconds>(seconds(1) * (1 << doublings), seconds(60));
}

BackgroundUploader::BackgroundUploader(StoreLocation location, QObject* parent)
    : QObject(parent), m_location(std::move(location)) {}

BackgroundUploader::~BackgroundUploader() {
    if (!m_thread)
        return;
    m_thread->quit();
    m_thread->wait();
}

void BackgroundUploader::start() {
    if (m_thread)
        return;
    m_thread = new QThread(this);
    m_thread->setObjectName(QStringLiteral("uploader"));
    auto* worker = new UploadWorker(m_location, this);
    worker->moveToThread(m_thread);
    QObject::connect(m_thread, &QThread::finished, worker, &QObject::deleteLater);
    m_worker = worker;
    m_thread->start(QThread::LowPriority);
    QMetaObject::invokeMethod(
        worker, [worker] { worker->pass(); }, Qt::QueuedConnection);
}

void BackgroundUploader::nudge() {
    if (m_worker)
        QMetaObject::invokeMethod(
            m_worker, [worker = static_cast<UploadWorker*>(m_worker)] { worker->nudged(); },
            Qt::QueuedConnection);
}

} // namespace rio::store
