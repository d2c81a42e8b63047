#include "store/sqlite_store.h"

#include "store/queries.h"
#include "store/sql_support.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonValue>
#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

#include <iterator>
#include <span>

namespace rio::store {

namespace {

Q_LOGGING_CATEGORY(lcStore, "rio.store", QtInfoMsg)

// Migration k takes the schema from version k to k + 1. One that has shipped
// is never edited; a change to the schema is a new migration.
const char* const kMigrationTo1[] = {
    // Texts that may be absent (unit, operator, address, plan_sha256, end)
    // are NULL then. Times are ISO 8601 UTC with milliseconds, so that text
    // order is time order. "end" is a keyword of SQL and is always quoted.
    "CREATE TABLE runs ("
    " id INTEGER PRIMARY KEY,"
    " uuid TEXT NOT NULL UNIQUE,"
    " unit TEXT,"
    " attempt INTEGER NOT NULL CHECK (attempt >= 1),"
    " station TEXT NOT NULL,"
    " host TEXT NOT NULL,"
    " operator TEXT,"
    " address TEXT,"
    " plan_file TEXT NOT NULL,"
    " plan_sha256 TEXT,"
    " start TEXT NOT NULL,"
    " \"end\" TEXT,"
    " verdict TEXT NOT NULL"
    "  CHECK (verdict IN ('RUNNING', 'PASS', 'FAIL', 'ERROR', 'ABORTED')),"
    " message TEXT NOT NULL,"
    " version TEXT NOT NULL)",
    // A unit's history and its attempt count.
    "CREATE INDEX runs_unit_start ON runs (unit, start)",
    // A period's yield and Pareto.
    "CREATE INDEX runs_start ON runs (start)",
    // A station's latest runs.
    "CREATE INDEX runs_station_start ON runs (station, start)",
    // A station's unfinished runs at its start-up.
    "CREATE INDEX runs_running ON runs (station) WHERE verdict = 'RUNNING'",
    // The unique pairs are also the indexes that find a run's steps and a
    // step's measurements.
    "CREATE TABLE steps ("
    " id INTEGER PRIMARY KEY,"
    " run_id INTEGER NOT NULL REFERENCES runs (id) ON DELETE CASCADE,"
    " position INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " outcome TEXT NOT NULL CHECK (outcome IN ('pass', 'fail', 'error', 'skipped')),"
    " message TEXT NOT NULL,"
    " duration_ms INTEGER NOT NULL,"
    " UNIQUE (run_id, position))",
    // value, low and high have no declared type, so SQLite keeps each as it
    // came: a number as REAL, input states as TEXT ("00000100"), NULL when
    // not measured or not limited on that side.
    "CREATE TABLE measurements ("
    " id INTEGER PRIMARY KEY,"
    " step_id INTEGER NOT NULL REFERENCES steps (id) ON DELETE CASCADE,"
    " position INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " value,"
    " low,"
    " high,"
    " outcome TEXT NOT NULL CHECK (outcome IN ('pass', 'fail', 'error', 'skipped')),"
    " UNIQUE (step_id, position))",
};
const char* const kMigrationTo2[] = {
    // A run recorded while a line's server is configured waits here for it
    // ('waiting') until the server committed it ('done', with the time).
    // NULL: a run of a station without a server, never sent.
    "ALTER TABLE runs ADD COLUMN upload TEXT CHECK (upload IN ('waiting', 'done'))",
    "ALTER TABLE runs ADD COLUMN uploaded TEXT",
    "CREATE INDEX runs_outbox ON runs (id) WHERE upload = 'waiting'",
};
const std::span<const char* const> kMigrations[] = {kMigrationTo1, kMigrationTo2};
static_assert(std::size(kMigrations) == kSqliteSchemaVersion);

// Another program writing the same file holds it at most for one run's
// transaction; waiting this long for it is never a lost result.
constexpr int kBusyTimeoutMs = 5000;

QVariant measured(const QJsonValue& value, const QString& name) {
    switch (value.type()) {
    case QJsonValue::Double:
        return value.toDouble();
    case QJsonValue::String:
        return text(value.toString());
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        return QVariant(QMetaType::fromType<double>());
    case QJsonValue::Bool:
        return value.toBool() ? 1 : 0;
    case QJsonValue::Array:
    case QJsonValue::Object:
        break;
    }
    throw StoreFailure{
        QStringLiteral("measurement %1 is neither a number nor a text").arg(name.left(80))};
}

class SqliteStore final : public ResultsStore, public Outbox {
public:
    explicit SqliteStore(QString path)
        : m_path(std::move(path)), m_connection(newConnectionName()) {}

    ~SqliteStore() override {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
    }

    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    void open(Access access, Durability durability);
    // Runs begun from here on wait in the file for the line's server.
    void queueForServer() { m_queueForServer = true; }

    QString name() const override { return QStringLiteral("sqlite:") + m_path; }

    StoreStatus beginRun(TestRecord& record) override;
    StoreStatus completeRun(const TestRecord& record) override;
    StoreResult<int> abortRunning(const QString& station) override;
    StoreResult<std::vector<RunSummary>> history(const QString& unit) override;
    StoreResult<std::vector<RunSummary>> latestRuns(const QString& station, int limit) override;
    StoreResult<YieldFigures> yieldFigures(const Period& period) override;
    StoreResult<std::vector<ParetoEntry>> pareto(const Period& period) override;
    StoreResult<std::vector<QString>> stations(const Period& period) override;

    StoreResult<int> waitingCount() override;
    StoreResult<std::vector<QueuedRun>> waitingRuns(int limit) override;
    StoreStatus markUploaded(const std::vector<QString>& uuids) override;

private:
    // Takes the write lock at once, so that what the transaction reads (an
    // attempt count, the schema version) cannot change before it writes.
    static constexpr const char* kWriting = "BEGIN IMMEDIATE";

    [[nodiscard]] QSqlQuery prepare(const QString& sql) { return store::prepare(m_db, sql); }
    static void run(QSqlQuery& query) { store::run(query); }
    void execute(const QString& sql) { store::execute(m_db, sql); }
    void execute(const char* sql) { execute(QString::fromLatin1(sql)); }
    [[nodiscard]] int userVersion();
    void migrate();

    template <typename T, typename Body> StoreResult<T> guarded(const char* what, Body body) {
        return store::guarded<T>(name(), what, body);
    }

    QString m_path;
    QString m_connection;
    QSqlDatabase m_db;
    bool m_queueForServer = false;
};

int SqliteStore::userVersion() {
    QSqlQuery query = prepare(QStringLiteral("PRAGMA user_version"));
    return scalar(query, "the schema version").toInt();
}

void SqliteStore::open(Access access, Durability durability) {
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        throw StoreFailure{
            QStringLiteral("Qt's SQLite driver is not installed (Debian: libqt6sql6-sqlite)")};
    const QFileInfo file(m_path);
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs);
    if (access == Access::ReadOnly) {
        // SQLite would make a new, empty file; a reader wants the runs.
        if (!file.exists())
            throw StoreFailure{QStringLiteral("there is no store in this file")};
        options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    } else if (!QDir().mkpath(file.absolutePath())) {
        throw StoreFailure{QStringLiteral("cannot make the folder %1").arg(file.absolutePath())};
    }
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    m_db.setDatabaseName(m_path);
    m_db.setConnectOptions(options);
    if (!m_db.open())
        throw StoreFailure{reasonOf(m_db.lastError())};

    // Refused before anything is written to it, so a newer program's file is
    // left as it was.
    const int version = userVersion();
    if (version > kSqliteSchemaVersion)
        throw StoreFailure{QStringLiteral("its schema version %1 is newer than this program's (%2)")
                               .arg(version)
                               .arg(kSqliteSchemaVersion)};
    if (access == Access::ReadOnly) {
        if (version == 0)
            throw StoreFailure{QStringLiteral("this file holds no store")};
        if (version < kSqliteSchemaVersion)
            throw StoreFailure{QStringLiteral("its schema version %1 is older than this program's "
                                              "(%2); a test recorded into it updates it")
                                   .arg(version)
                                   .arg(kSqliteSchemaVersion)};
        return;
    }

    QSqlQuery wal = prepare(QStringLiteral("PRAGMA journal_mode = WAL"));
    const QString mode = scalar(wal, "the journal mode").toString();
    if (mode.compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0)
        throw StoreFailure{QStringLiteral("cannot switch to WAL mode (journal mode %1)").arg(mode)};
    // In WAL mode FULL syncs the log on every commit: a run reported as stored
    // survives a power cut that follows.
    execute(durability == Durability::Synced ? "PRAGMA synchronous = FULL"
                                             : "PRAGMA synchronous = OFF");
    execute("PRAGMA foreign_keys = ON");
    migrate();
}

void SqliteStore::migrate() {
    Transaction transaction(m_db, kWriting);
    // Read again under the lock: another program may have migrated meanwhile.
    const int from = userVersion();
    if (from > kSqliteSchemaVersion)
        throw StoreFailure{QStringLiteral("its schema version %1 is newer than this program's (%2)")
                               .arg(from)
                               .arg(kSqliteSchemaVersion)};
    for (int version = from; version < kSqliteSchemaVersion; ++version) {
        for (const char* statement : kMigrations[version])
            execute(statement);
        qCDebug(lcStore) << name() << "schema migrated to version" << version + 1;
    }
    // Written even when unchanged: this committed write is the open's check
    // that the file can be written at all, before any test relies on it.
    execute(QStringLiteral("PRAGMA user_version = %1").arg(kSqliteSchemaVersion));
    transaction.commit();
}

StoreStatus SqliteStore::beginRun(TestRecord& record) {
    return guarded<Done>("cannot record the run's start", [&] {
        QString uuid = record.uuid;
        if (uuid.isEmpty())
            uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
        Transaction transaction(m_db, kWriting);
        int attempt = 1;
        if (!record.unit.isEmpty()) {
            QSqlQuery count =
                prepare(QStringLiteral("SELECT COUNT(*) FROM runs WHERE unit = :unit"));
            count.bindValue(QStringLiteral(":unit"), record.unit);
            attempt = scalar(count, "the unit's attempts").toInt() + 1;
        }
        QSqlQuery insert = prepare(QStringLiteral(
            "INSERT INTO runs (uuid, unit, attempt, station, host, operator, address,"
            " plan_file, plan_sha256, start, verdict, message, version, upload)"
            " VALUES (:uuid, :unit, :attempt, :station, :host, :operator, :address,"
            " :plan_file, :plan_sha256, :start, 'RUNNING', '', :version, :upload)"));
        insert.bindValue(QStringLiteral(":uuid"), uuid);
        insert.bindValue(QStringLiteral(":unit"), optionalText(record.unit));
        insert.bindValue(QStringLiteral(":attempt"), attempt);
        insert.bindValue(QStringLiteral(":station"), text(record.station));
        insert.bindValue(QStringLiteral(":host"), text(record.host));
        insert.bindValue(QStringLiteral(":operator"), optionalText(record.operatorName));
        insert.bindValue(QStringLiteral(":address"), optionalText(record.address));
        insert.bindValue(QStringLiteral(":plan_file"), text(record.planFile));
        insert.bindValue(QStringLiteral(":plan_sha256"), optionalText(record.planSha256));
        insert.bindValue(QStringLiteral(":start"), storeTime(record.start));
        insert.bindValue(QStringLiteral(":version"), text(record.version));
        insert.bindValue(QStringLiteral(":upload"), m_queueForServer
                                                        ? QVariant(QStringLiteral("waiting"))
                                                        : QVariant(QMetaType::fromType<QString>()));
        run(insert);
        transaction.commit();
        record.uuid = uuid;
        record.attempt = attempt;
        return Done{};
    });
}

StoreStatus SqliteStore::completeRun(const TestRecord& record) {
    return guarded<Done>("cannot record the run's end", [&] {
        Transaction transaction(m_db, kWriting);
        QSqlQuery update = prepare(QStringLiteral(
            "UPDATE runs SET operator = :operator, address = :address, plan_file = :plan_file,"
            " plan_sha256 = :plan_sha256, \"end\" = :end, verdict = :verdict, message = :message,"
            " version = :version"
            " WHERE uuid = :uuid AND verdict = 'RUNNING' RETURNING id"));
        update.bindValue(QStringLiteral(":operator"), optionalText(record.operatorName));
        update.bindValue(QStringLiteral(":address"), optionalText(record.address));
        update.bindValue(QStringLiteral(":plan_file"), text(record.planFile));
        update.bindValue(QStringLiteral(":plan_sha256"), optionalText(record.planSha256));
        update.bindValue(QStringLiteral(":end"), storeTime(record.end));
        update.bindValue(QStringLiteral(":verdict"), boardtest::verdictName(record.verdict()));
        update.bindValue(QStringLiteral(":message"), text(record.message));
        update.bindValue(QStringLiteral(":version"), text(record.version));
        update.bindValue(QStringLiteral(":uuid"), record.uuid);
        run(update);
        if (!update.next()) {
            QSqlQuery state =
                prepare(QStringLiteral("SELECT verdict FROM runs WHERE uuid = :uuid"));
            state.bindValue(QStringLiteral(":uuid"), record.uuid);
            run(state);
            throw StoreFailure{state.next()
                                   ? QStringLiteral("run %1 is %2 in the store, no longer "
                                                    "RUNNING")
                                         .arg(record.uuid, state.value(0).toString())
                                   : QStringLiteral("run %1 is not in the store").arg(record.uuid)};
        }
        const qlonglong runId = update.value(0).toLongLong();
        update.finish();

        QSqlQuery step = prepare(
            QStringLiteral("INSERT INTO steps (run_id, position, name, outcome, message, "
                           "duration_ms) VALUES (:run, :position, :name, :outcome, :message, "
                           ":duration)"));
        QSqlQuery measurement = prepare(
            QStringLiteral("INSERT INTO measurements (step_id, position, name, value, low, high,"
                           " outcome) VALUES (:step, :position, :name, :value, :low, :high,"
                           " :outcome)"));
        int stepPosition = 0;
        for (const boardtest::StepResult& s : record.steps) {
            step.bindValue(QStringLiteral(":run"), runId);
            step.bindValue(QStringLiteral(":position"), ++stepPosition);
            step.bindValue(QStringLiteral(":name"), text(s.name));
            step.bindValue(QStringLiteral(":outcome"), boardtest::outcomeName(s.outcome));
            step.bindValue(QStringLiteral(":message"), text(s.message));
            step.bindValue(QStringLiteral(":duration"), qlonglong(s.duration.count()));
            run(step);
            const QVariant stepId = step.lastInsertId();
            int position = 0;
            for (const boardtest::Measurement& m : s.measurements) {
                measurement.bindValue(QStringLiteral(":step"), stepId);
                measurement.bindValue(QStringLiteral(":position"), ++position);
                measurement.bindValue(QStringLiteral(":name"), text(m.name));
                measurement.bindValue(QStringLiteral(":value"), measured(m.value, m.name));
                measurement.bindValue(QStringLiteral(":low"), measured(m.low, m.name));
                measurement.bindValue(QStringLiteral(":high"), measured(m.high, m.name));
                measurement.bindValue(QStringLiteral(":outcome"),
                                      boardtest::outcomeName(m.outcome));
                run(measurement);
            }
        }
        transaction.commit();
        return Done{};
    });
}

StoreResult<int> SqliteStore::abortRunning(const QString& station) {
    return guarded<int>("cannot mark unfinished runs ABORTED", [&] {
        QSqlQuery update =
            prepare(QStringLiteral("UPDATE runs SET verdict = 'ABORTED', message = :message"
                                   " WHERE station = :station AND verdict = 'RUNNING'"));
        update.bindValue(QStringLiteral(":message"),
                         QStringLiteral("cut short: still RUNNING when the station started "
                                        "again at %1")
                             .arg(storeTime(WallClock::now())));
        update.bindValue(QStringLiteral(":station"), text(station));
        run(update);
        const int count = update.numRowsAffected();
        if (count > 0)
            qCDebug(lcStore) << name() << station << "runs marked ABORTED:" << count;
        return count;
    });
}

StoreResult<std::vector<RunSummary>> SqliteStore::history(const QString& unit) {
    return guarded<std::vector<RunSummary>>("cannot read the unit's history",
                                            [&] { return queries::history(m_db, unit); });
}

StoreResult<std::vector<RunSummary>> SqliteStore::latestRuns(const QString& station, int limit) {
    return guarded<std::vector<RunSummary>>("cannot read the station's runs", [&] {
        return queries::latestRuns(m_db, station, limit);
    });
}

StoreResult<YieldFigures> SqliteStore::yieldFigures(const Period& period) {
    return guarded<YieldFigures>("cannot read the yield",
                                 [&] { return queries::yieldFigures(m_db, period); });
}

StoreResult<std::vector<ParetoEntry>> SqliteStore::pareto(const Period& period) {
    return guarded<std::vector<ParetoEntry>>("cannot read the failures",
                                             [&] { return queries::pareto(m_db, period); });
}

StoreResult<std::vector<QString>> SqliteStore::stations(const Period& period) {
    return guarded<std::vector<QString>>("cannot read the stations",
                                         [&] { return queries::stations(m_db, period); });
}

// A finished run is sent; one still RUNNING waits for its end, or for its
// station's next start to mark it ABORTED.
const char* const kWaiting = "upload = 'waiting' AND verdict <> 'RUNNING'";

StoreResult<int> SqliteStore::waitingCount() {
    return guarded<int>("cannot read the outbox", [&] {
        QSqlQuery count =
            prepare(QStringLiteral("SELECT COUNT(*) FROM runs WHERE ") + QLatin1String(kWaiting));
        return scalar(count, "the number of waiting runs").toInt();
    });
}

StoreResult<std::vector<QueuedRun>> SqliteStore::waitingRuns(int limit) {
    return guarded<std::vector<QueuedRun>>("cannot read the outbox", [&] {
        // One read transaction, so that a run and its steps are read as one;
        // left by rolling back, since it wrote nothing.
        Transaction reading(m_db);
        QSqlQuery runs = prepare(
            QStringLiteral("SELECT id, uuid, unit, attempt, station, host, operator, address,"
                           " plan_file, plan_sha256, start, \"end\", verdict, message, version"
                           " FROM runs WHERE ") +
            QLatin1String(kWaiting) + QStringLiteral(" ORDER BY id LIMIT :limit"));
        runs.bindValue(QStringLiteral(":limit"), limit);
        run(runs);
        std::vector<std::pair<qlonglong, QueuedRun>> found;
        while (runs.next()) {
            QueuedRun r;
            r.uuid = textOf(runs.value(1));
            r.unit = textOf(runs.value(2));
            r.attempt = runs.value(3).toInt();
            r.station = textOf(runs.value(4));
            r.host = textOf(runs.value(5));
            r.operatorName = textOf(runs.value(6));
            r.address = textOf(runs.value(7));
            r.planFile = textOf(runs.value(8));
            r.planSha256 = textOf(runs.value(9));
            r.start = textOf(runs.value(10));
            r.end = textOf(runs.value(11));
            r.verdict = textOf(runs.value(12));
            r.message = textOf(runs.value(13));
            r.version = textOf(runs.value(14));
            found.emplace_back(runs.value(0).toLongLong(), std::move(r));
        }
        QSqlQuery steps =
            prepare(QStringLiteral("SELECT id, position, name, outcome, message, duration_ms"
                                   " FROM steps WHERE run_id = :run ORDER BY position"));
        QSqlQuery measurements =
            prepare(QStringLiteral("SELECT position, name, value, low, high, outcome"
                                   " FROM measurements WHERE step_id = :step ORDER BY position"));
        std::vector<QueuedRun> queued;
        for (auto& [id, r] : found) {
            steps.bindValue(QStringLiteral(":run"), id);
            run(steps);
            std::vector<std::pair<qlonglong, QueuedStep>> stepRows;
            while (steps.next())
                stepRows.emplace_back(steps.value(0).toLongLong(),
                                      QueuedStep{steps.value(1).toInt(),
                                                 textOf(steps.value(2)),
                                                 textOf(steps.value(3)),
                                                 textOf(steps.value(4)),
                                                 steps.value(5).toLongLong(),
                                                 {}});
            steps.finish();
            for (auto& [stepId, step] : stepRows) {
                measurements.bindValue(QStringLiteral(":step"), stepId);
                run(measurements);
                while (measurements.next())
                    step.measurements.push_back(
                        {measurements.value(0).toInt(), textOf(measurements.value(1)),
                         measurements.value(2), measurements.value(3), measurements.value(4),
                         textOf(measurements.value(5))});
                measurements.finish();
                r.steps.push_back(std::move(step));
            }
            queued.push_back(std::move(r));
        }
        return queued;
    });
}

StoreStatus SqliteStore::markUploaded(const std::vector<QString>& uuids) {
    return guarded<Done>("cannot mark runs uploaded", [&] {
        Transaction transaction(m_db, kWriting);
        QSqlQuery update = prepare(
            QStringLiteral("UPDATE runs SET upload = 'done', uploaded = :now WHERE uuid = :uuid"));
        const QString now = storeTime(WallClock::now());
        for (const QString& uuid : uuids) {
            update.bindValue(QStringLiteral(":now"), now);
            update.bindValue(QStringLiteral(":uuid"), uuid);
            run(update);
        }
        transaction.commit();
        return Done{};
    });
}

} // namespace

namespace {

StoreResult<std::unique_ptr<SqliteStore>> opened(const QString& path, Access access,
                                                 Durability durability) {
    auto store = std::make_unique<SqliteStore>(path);
    try {
        store->open(access, durability);
    } catch (const StoreFailure& failure) {
        return StoreResult<std::unique_ptr<SqliteStore>>::failure(
            QStringLiteral("cannot open the store sqlite:%1: %2").arg(path, failure.reason));
    }
    return StoreResult<std::unique_ptr<SqliteStore>>(std::move(store));
}

} // namespace

StoreResult<std::unique_ptr<ResultsStore>>
openSqliteStore(const QString& path, Access access, Durability durability, bool queueForServer) {
    auto store = opened(path, access, durability);
    if (!store)
        return StoreResult<std::unique_ptr<ResultsStore>>::failure(store.error());
    if (queueForServer)
        store.value()->queueForServer();
    return StoreResult<std::unique_ptr<ResultsStore>>(std::move(store.value()));
}

StoreResult<std::unique_ptr<Outbox>> openOutbox(const QString& path) {
    auto store = opened(path, Access::ReadWrite, Durability::Synced);
    if (!store)
        return StoreResult<std::unique_ptr<Outbox>>::failure(store.error());
    return StoreResult<std::unique_ptr<Outbox>>(std::move(store.value()));
}

} // namespace rio::store
