#pragma once
// The SQLite back end: the station's own file, in WAL mode so that a reader
// (riopoll --history, a quality engineer's tool) never holds up a test that
// is being recorded. With a line's server configured the file is also the
// outbox its runs wait in. Reached through openStore() and openOutbox().

#include "store/results_store.h"

#include <QVariant>

#include <vector>

namespace rio::store {

inline constexpr int kSqliteSchemaVersion = 2;

// queueForServer: runs begun through this store wait in the file for the
// line's server.
[[nodiscard]] StoreResult<std::unique_ptr<ResultsStore>>
openSqliteStore(const QString& path, Access access, Durability durability,
                bool queueForServer = false);

// A finished run as it waits in the outbox, every column as stored.
struct QueuedMeasurement {
    int position = 0;
    QString name;
    QVariant value; // a number, a text, or null
    QVariant low;
    QVariant high;
    QString outcome;
};

struct QueuedStep {
    int position = 0;
    QString name;
    QString outcome;
    QString message;
    qlonglong durationMs = 0;
    std::vector<QueuedMeasurement> measurements;
};

struct QueuedRun {
    QString uuid;
    QString unit;
    int attempt = 0;
    QString station;
    QString host;
    QString operatorName;
    QString address;
    QString planFile;
    QString planSha256;
    QString start;
    QString end;
    QString verdict;
    QString message;
    QString version;
    std::vector<QueuedStep> steps;
};

class Outbox {
public:
    virtual ~Outbox() = default;
    [[nodiscard]] virtual StoreResult<int> waitingCount() = 0;
    // The oldest finished runs waiting, with their steps and measurements.
    [[nodiscard]] virtual StoreResult<std::vector<QueuedRun>> waitingRuns(int limit) = 0;
    // For runs the server has committed, and only then; in one transaction.
    virtual StoreStatus markUploaded(const std::vector<QString>& uuids) = 0;
};

// The station's file as an outbox: its own connection, for the uploader.
[[nodiscard]] StoreResult<std::unique_ptr<Outbox>> openOutbox(const QString& path);

} // namespace rio::store
