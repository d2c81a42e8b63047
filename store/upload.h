#pragma once
// Store and forward to a line's server. Every run is kept first in the
// station's own SQLite file, its outbox; finished runs go up to the server
// oldest first, each in one server transaction keyed on the run's UUID, so
// that a retry after a lost acknowledgement stores nothing twice. A run is
// marked uploaded in the outbox only after the server committed it. A server
// that is away delays the upload, never the test.

#include "store/results_store.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class QThread;
class QTimer;

namespace rio::store {

// Where an upload stands.
struct UploadProgress {
    int uploaded = 0; // runs this call sent
    int waiting = 0;  // finished runs still in the outbox, -1 when it cannot be read
    // Why the last attempt failed; empty when nothing failed. Never holds a
    // password: libpq's messages do not, and none is ever given to it here.
    QString reason;
};

// Seams for the tests of what happens when the server goes away at the worst
// moments. Each is called on the uploader's thread with the uuid of the run
// being sent.
struct UploadFaults {
    // After the run's row went in and before its steps: the test kills the
    // server here, or cuts the connection.
    std::function<void(const QString& uuid)> afterRunInserted;
    // After the server's COMMIT returned and before the outbox marks the run:
    // returning true plays an acknowledgement that never arrived.
    std::function<bool(const QString& uuid)> loseAcknowledgement;
};

// One uploader: its own outbox connection and its own server connection,
// used from the thread that made it.
class Uploader {
public:
    // location must name a server. Opening the outbox can fail (the file
    // cannot be written); reaching the server is left to upload().
    static StoreResult<std::unique_ptr<Uploader>> open(const StoreLocation& location);
    virtual ~Uploader() = default;

    // Sends waiting runs until none wait, the deadline passes, or the server
    // fails (then the reason). Connects, and migrates the server's schema,
    // when not connected.
    [[nodiscard]] virtual UploadProgress upload(std::chrono::steady_clock::time_point deadline) = 0;

    // Finished runs waiting in the outbox; -1 and the reason when it cannot
    // be read.
    [[nodiscard]] virtual StoreResult<int> waiting() = 0;

    virtual void setFaults(UploadFaults faults) = 0;
};

// The station's uploader: an Uploader on a thread of its own that drains the
// outbox when it starts and whenever it is nudged (a run was completed), and
// after a failure retries with back-off while runs wait: 1 s, doubling to at
// most 60 s, reset by a success; a nudge during a back-off waits for it.
// progress() reaches the object's own thread.
class BackgroundUploader : public QObject {
    Q_OBJECT
public:
    explicit BackgroundUploader(StoreLocation location, QObject* parent = nullptr);
    ~BackgroundUploader() override; // stops the thread after the run in flight

    // Starts the thread; the first pass runs at once.
    void start();
    // A run was completed: try now, unless backing off from a failure.
    void nudge();

signals:
    void progress(const rio::store::UploadProgress& progress);

private:
    QThread* m_thread = nullptr;
    QObject* m_worker = nullptr;
    StoreLocation m_location;
};

// The back-off after `failures` failed passes in a row (1 and up).
[[nodiscard]] std::chrono::milliseconds uploadBackoff(int failures);

} // namespace rio::store
