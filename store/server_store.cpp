#include "store/server_store.h"

#include "store/queries.h"
#include "store/sql_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSqlError>

#include <chrono>
#include <iterator>
#include <optional>
#include <span>

namespace rio::store {

namespace {

Q_LOGGING_CATEGORY(lcServer, "rio.store.server", QtInfoMsg)

// Migration k takes the schema from version k to k + 1. One that has shipped
// is never edited; a change to the schema is a new migration.
const char* const kServerMigrationTo1[] = {
    // The station's columns, so that both back ends answer the same queries:
    // times are ISO 8601 UTC texts, compared in byte order ("C") whatever
    // the database's collation, so that text order is time order. RUNNING
    // never reaches the server: only finished runs are sent.
    "CREATE TABLE runs ("
    " id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
    " uuid TEXT COLLATE \"C\" NOT NULL UNIQUE,"
    " unit TEXT COLLATE \"C\","
    " attempt INTEGER NOT NULL CHECK (attempt >= 1),"
    " station TEXT COLLATE \"C\" NOT NULL,"
    " host TEXT NOT NULL,"
    " operator TEXT,"
    " address TEXT,"
    " plan_file TEXT NOT NULL,"
    " plan_sha256 TEXT,"
    " start TEXT COLLATE \"C\" NOT NULL,"
    " \"end\" TEXT COLLATE \"C\","
    " verdict TEXT NOT NULL CHECK (verdict IN ('PASS', 'FAIL', 'ERROR', 'ABORTED')),"
    " message TEXT NOT NULL,"
    " version TEXT NOT NULL,"
    // When the server committed the run: how late a station's results came.
    " uploaded TIMESTAMPTZ NOT NULL DEFAULT now())",
    "CREATE INDEX runs_unit_start ON runs (unit, start)",
    "CREATE INDEX runs_start ON runs (start)",
    "CREATE INDEX runs_station_start ON runs (station, start)",
    "CREATE TABLE steps ("
    " id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
    " run_id BIGINT NOT NULL REFERENCES runs (id) ON DELETE CASCADE,"
    " position INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " outcome TEXT NOT NULL CHECK (outcome IN ('pass', 'fail', 'error', 'skipped')),"
    " message TEXT NOT NULL,"
    " duration_ms BIGINT NOT NULL,"
    " UNIQUE (run_id, position))",
    // A value is a JSON number or text (input states, "00000100"); NULL when
    // not measured or not limited on that side.
    "CREATE TABLE measurements ("
    " id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
    " step_id BIGINT NOT NULL REFERENCES steps (id) ON DELETE CASCADE,"
    " position INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " value JSONB,"
    " low JSONB,"
    " high JSONB,"
    " outcome TEXT NOT NULL CHECK (outcome IN ('pass', 'fail', 'error', 'skipped')),"
    " UNIQUE (step_id, position))",
};
const std::span<const char* const> kServerMigrations[] = {kServerMigrationTo1};
static_assert(std::size(kServerMigrations) == kServerSchemaVersion);

// The advisory lock every station takes to migrate: "riopanel" in ASCII.
constexpr qlonglong kMigrationLock = 0x72696f70616e656cLL;

// libpq waits this long for a server that does not answer before the
// uploader backs off; a station never waits on it.
constexpr int kConnectTimeoutSeconds = 5;

// A measured value as JSON: a number, a text, or null (not measured, no
// limit), which the server keeps as NULL.
QJsonValue json(const QVariant& value) {
    if (value.isNull())
        return QJsonValue(QJsonValue::Null);
    return value.typeId() == QMetaType::QString ? QJsonValue(value.toString())
                                                : QJsonValue(value.toDouble());
}

class PostgresStore final : public ServerStore {
public:
    explicit PostgresStore(ServerAddress server)
        : m_server(std::move(server)), m_connection(newConnectionName()) {}

    ~PostgresStore() override {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
    }

    PostgresStore(const PostgresStore&) = delete;
    PostgresStore& operator=(const PostgresStore&) = delete;

    QString name() const override { return describe(m_server); }

    StoreStatus connect(Access access) override;
    bool connected() const override { return m_db.isOpen(); }
    StoreStatus storeRun(const QueuedRun& run, const UploadFaults& faults) override;

    StoreStatus beginRun(TestRecord&) override { return writtenByUploaderOnly(); }
    StoreStatus completeRun(const TestRecord&) override { return writtenByUploaderOnly(); }
    StoreResult<int> abortRunning(const QString&) override {
        return StoreResult<int>::failure(
            QStringLiteral("%1: runs reach the server through a station's outbox only")
                .arg(name()));
    }

    StoreResult<std::vector<RunSummary>> history(const QString& unit) override {
        return read<std::vector<RunSummary>>("cannot read the unit's history",
                                             [&] { return queries::history(m_db, unit); });
    }
    StoreResult<std::vector<RunSummary>> latestRuns(const QString& station, int limit) override {
        return read<std::vector<RunSummary>>("cannot read the station's runs", [&] {
            return queries::latestRuns(m_db, station, limit);
        });
    }
    StoreResult<YieldFigures> yieldFigures(const Period& period) override {
        return read<YieldFigures>("cannot read the yield",
                                  [&] { return queries::yieldFigures(m_db, period); });
    }
    StoreResult<std::vector<ParetoEntry>> pareto(const Period& period) override {
        return read<std::vector<ParetoEntry>>("cannot read the failures",
                                              [&] { return queries::pareto(m_db, period); });
    }
    StoreResult<std::vector<QString>> stations(const Period& period) override {
        return read<std::vector<QString>>("cannot read the stations",
                                          [&] { return queries::stations(m_db, period); });
    }

private:
    StoreStatus writtenByUploaderOnly() const {
        return StoreStatus::failure(
            QStringLiteral("%1: runs reach the server through a station's outbox only")
                .arg(name()));
    }

    void open();
    [[nodiscard]] int version();
    void migrate();
    void disconnect() { m_db.close(); }

    // Reads connect when not connected; a failure closes the connection so
    // that the next read connects again.
    // A server that could not be reached is not tried again for a while:
    // a window asks after every test, and must not wait each time.
    template <typename T, typename Body> StoreResult<T> read(const char* what, Body body) {
        using std::chrono::steady_clock;
        if (!connected()) {
            if (m_unreachableSince && steady_clock::now() - *m_unreachableSince < kReadRetry)
                return StoreResult<T>::failure(m_unreachable);
            const StoreStatus status = connect(Access::ReadOnly);
            if (!status) {
                m_unreachableSince = steady_clock::now();
                m_unreachable = status.error();
                return StoreResult<T>::failure(status.error());
            }
            m_unreachableSince.reset();
        }
        StoreResult<T> result = guarded<T>(name(), what, body);
        if (!result)
            disconnect();
        return result;
    }

    static constexpr std::chrono::seconds kReadRetry{15};

    ServerAddress m_server;
    QString m_connection;
    QSqlDatabase m_db;
    std::optional<std::chrono::steady_clock::time_point> m_unreachableSince;
    QString m_unreachable;
};

void PostgresStore::open() {
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        throw StoreFailure{
            QStringLiteral("Qt's PostgreSQL driver is not installed (Debian: libqt6sql6-psql)")};
    if (!QSqlDatabase::contains(m_connection))
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_connection);
    m_db.setHostName(m_server.host);
    if (m_server.port > 0)
        m_db.setPort(m_server.port);
    m_db.setDatabaseName(m_server.database);
    m_db.setUserName(m_server.user);
    // No password is ever set: libpq reads it from where its users keep it.
    QStringList options = m_server.options.split(u';', Qt::SkipEmptyParts);
    if (!m_server.options.contains(QStringLiteral("connect_timeout=")))
        options << QStringLiteral("connect_timeout=%1").arg(kConnectTimeoutSeconds);
    if (!m_server.options.contains(QStringLiteral("application_name=")))
        options << QStringLiteral("application_name=riopanel");
    m_db.setConnectOptions(options.join(u';'));
    if (!m_db.open())
        throw StoreFailure{reasonOf(m_db.lastError())};
    // The server's own time zone and style never change what is stored: every
    // time is a text written by the stations.
    execute(m_db, QStringLiteral("SET client_min_messages = warning"));
}

int PostgresStore::version() {
    QSqlQuery exists = prepare(m_db, QStringLiteral("SELECT to_regclass('schema_version') IS NOT "
                                                    "NULL"));
    if (!scalar(exists, "whether the schema exists").toBool())
        return 0;
    QSqlQuery query =
        prepare(m_db, QStringLiteral("SELECT COALESCE(MAX(version), 0) FROM schema_version"));
    return scalar(query, "the schema version").toInt();
}

void PostgresStore::migrate() {
    // Taken before the transaction begins, so that the transaction's view
    // of the catalog is taken after a second station's migration committed:
    // it waits here, then finds the schema migrated. Released at the end,
    // or with the connection.
    QSqlQuery lock = prepare(m_db, QStringLiteral("SELECT pg_advisory_lock(:key)"));
    lock.bindValue(QStringLiteral(":key"), kMigrationLock);
    static_cast<void>(scalar(lock, "the migration lock"));
    struct Unlock {
        QSqlDatabase& db;
        ~Unlock() {
            QSqlQuery unlock(db);
            unlock.prepare(QStringLiteral("SELECT pg_advisory_unlock(:key)"));
            unlock.bindValue(QStringLiteral(":key"), kMigrationLock);
            unlock.exec();
        }
    } unlock{m_db};

    Transaction transaction(m_db);
    const int from = version();
    if (from > kServerSchemaVersion)
        throw StoreFailure{QStringLiteral("its schema version %1 is newer than this program's (%2)")
                               .arg(from)
                               .arg(kServerSchemaVersion)};
    if (from == 0)
        execute(m_db, QStringLiteral("CREATE TABLE schema_version ("
                                     " version INTEGER PRIMARY KEY,"
                                     " applied TIMESTAMPTZ NOT NULL DEFAULT now(),"
                                     " program TEXT NOT NULL)"));
    for (int v = from; v < kServerSchemaVersion; ++v) {
        for (const char* statement : kServerMigrations[v])
            execute(m_db, QString::fromLatin1(statement));
        QSqlQuery applied = prepare(
            m_db, QStringLiteral("INSERT INTO schema_version (version, program) VALUES (:v, :p)"));
        applied.bindValue(QStringLiteral(":v"), v + 1);
        applied.bindValue(QStringLiteral(":p"), QStringLiteral("riopanel " RIO_STORE_VERSION));
        run(applied);
        qCInfo(lcServer) << name() << "schema migrated to version" << v + 1;
    }
    transaction.commit();
}

StoreStatus PostgresStore::connect(Access access) {
    try {
        open();
        const int found = version();
        if (found > kServerSchemaVersion)
            throw StoreFailure{
                QStringLiteral("its schema version %1 is newer than this program's (%2)")
                    .arg(found)
                    .arg(kServerSchemaVersion)};
        if (access == Access::ReadOnly) {
            if (found == 0)
                throw StoreFailure{QStringLiteral("this database holds no store yet; a station's "
                                                  "first upload makes it")};
            if (found < kServerSchemaVersion)
                throw StoreFailure{
                    QStringLiteral("its schema version %1 is older than this program's (%2); a "
                                   "station's upload updates it")
                        .arg(found)
                        .arg(kServerSchemaVersion)};
        } else if (found < kServerSchemaVersion) {
            migrate();
        }
    } catch (const StoreFailure& failure) {
        disconnect();
        return StoreStatus::failure(
            QStringLiteral("cannot open the store %1: %2").arg(name(), failure.reason));
    }
    return Done{};
}

StoreStatus PostgresStore::storeRun(const QueuedRun& r, const UploadFaults& faults) {
    StoreStatus status = guarded<Done>(name(), "cannot upload the run", [&] {
        Transaction transaction(m_db);
        QSqlQuery insert = prepare(
            m_db, QStringLiteral(
                      "INSERT INTO runs (uuid, unit, attempt, station, host, operator, address,"
                      " plan_file, plan_sha256, start, \"end\", verdict, message, version)"
                      " VALUES (:uuid, :unit, :attempt, :station, :host, :operator, :address,"
                      " :plan_file, :plan_sha256, :start, :end, :verdict, :message, :version)"
                      " ON CONFLICT (uuid) DO NOTHING RETURNING id"));
        insert.bindValue(QStringLiteral(":uuid"), r.uuid);
        insert.bindValue(QStringLiteral(":unit"), optionalText(r.unit));
        insert.bindValue(QStringLiteral(":attempt"), r.attempt);
        insert.bindValue(QStringLiteral(":station"), text(r.station));
        insert.bindValue(QStringLiteral(":host"), text(r.host));
        insert.bindValue(QStringLiteral(":operator"), optionalText(r.operatorName));
        insert.bindValue(QStringLiteral(":address"), optionalText(r.address));
        insert.bindValue(QStringLiteral(":plan_file"), text(r.planFile));
        insert.bindValue(QStringLiteral(":plan_sha256"), optionalText(r.planSha256));
        insert.bindValue(QStringLiteral(":start"), text(r.start));
        insert.bindValue(QStringLiteral(":end"), optionalText(r.end));
        insert.bindValue(QStringLiteral(":verdict"), text(r.verdict));
        insert.bindValue(QStringLiteral(":message"), text(r.message));
        insert.bindValue(QStringLiteral(":version"), text(r.version));
        run(insert);
        if (!insert.next()) {
            // Already there, whole: it went in in one transaction before.
            insert.finish();
            transaction.commit();
            qCDebug(lcServer) << name() << "run" << r.uuid << "was already on the server";
            return Done{};
        }
        const qlonglong runId = insert.value(0).toLongLong();
        insert.finish();
        if (faults.afterRunInserted)
            faults.afterRunInserted(r.uuid);

        // The run's steps, then all its measurements, each in one
        // statement: a round trip per table rather than per row, which is
        // what a queue drains at.
        QJsonArray steps;
        QJsonArray measurements;
        for (const QueuedStep& st : r.steps) {
            steps.append(QJsonObject{{"position", st.position},
                                     {"name", st.name},
                                     {"outcome", st.outcome},
                                     {"message", st.message},
                                     {"duration_ms", st.durationMs}});
            for (const QueuedMeasurement& m : st.measurements)
                measurements.append(QJsonObject{{"step", st.position},
                                                {"position", m.position},
                                                {"name", m.name},
                                                {"value", json(m.value)},
                                                {"low", json(m.low)},
                                                {"high", json(m.high)},
                                                {"outcome", m.outcome}});
        }
        const auto insertRows = [&](const QString& sql, const QJsonArray& rows) {
            if (rows.isEmpty())
                return;
            QSqlQuery insert = prepare(m_db, sql);
            insert.bindValue(QStringLiteral(":run"), runId);
            insert.bindValue(QStringLiteral(":rows"),
                             QString::fromUtf8(QJsonDocument(rows).toJson(QJsonDocument::Compact)));
            run(insert);
        };
        insertRows(QStringLiteral("INSERT INTO steps (run_id, position, name, outcome, message,"
                                  " duration_ms)"
                                  " SELECT :run, position, name, outcome, message, duration_ms"
                                  " FROM jsonb_to_recordset(CAST(:rows AS jsonb)) AS s (position"
                                  " INTEGER, name TEXT, outcome TEXT, message TEXT, duration_ms"
                                  " BIGINT)"),
                   steps);
        insertRows(QStringLiteral("INSERT INTO measurements (step_id, position, name, value, low,"
                                  " high, outcome)"
                                  " SELECT s.id, m.position, m.name, m.value, m.low, m.high,"
                                  " m.outcome"
                                  " FROM jsonb_to_recordset(CAST(:rows AS jsonb)) AS m (step"
                                  " INTEGER, position INTEGER, name TEXT, value JSONB, low JSONB,"
                                  " high JSONB, outcome TEXT)"
                                  " JOIN steps s ON s.run_id = :run AND s.position = m.step"),
                   measurements);
        transaction.commit();
        if (faults.loseAcknowledgement && faults.loseAcknowledgement(r.uuid))
            throw StoreFailure{
                QStringLiteral("the connection was lost before the server's answer")};
        return Done{};
    });
    if (!status)
        disconnect();
    return status;
}

} // namespace

std::unique_ptr<ServerStore> makeServerStore(const ServerAddress& server) {
    return std::make_unique<PostgresStore>(server);
}

} // namespace rio::store
