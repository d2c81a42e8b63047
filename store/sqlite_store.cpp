#include "store/sqlite_store.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonValue>
#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

#include <atomic>
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
const std::span<const char* const> kMigrations[] = {kMigrationTo1};
static_assert(std::size(kMigrations) == kSqliteSchemaVersion);

// Later than any run's start, for a period without an end.
const QString kEndOfTime = QStringLiteral("9999-12-31T23:59:59.999Z");

// Another program writing the same file holds it at most for one run's
// transaction; waiting this long for it is never a lost result.
constexpr int kBusyTimeoutMs = 5000;

// Inside the back end a failure is thrown, so that no statement's result can
// go unchecked; each public call turns it into its StoreResult.
struct StoreFailure {
    QString reason;
};

QString reasonOf(const QSqlError& error) {
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

// A text for a NOT NULL column: Qt binds a null QString as NULL.
QVariant text(const QString& value) {
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

// A text that is NULL when empty.
QVariant optionalText(const QString& value) {
    return value.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(value);
}

QString textOf(const QVariant& value) {
    return value.isNull() ? QString() : value.toString();
}

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

std::atomic<int> g_connections{0};

// The columns of RunSummary, and the step that failed (else could not run).
const char* const kRunSummarySelect =
    "SELECT r.uuid, r.unit, r.attempt, r.station, r.operator, r.address, r.plan_file,"
    " r.plan_sha256, r.start, r.\"end\", r.verdict, r.message, f.name, f.message"
    " FROM runs r LEFT JOIN steps f ON f.id = ("
    "  SELECT s.id FROM steps s WHERE s.run_id = r.id AND s.outcome IN ('fail', 'error')"
    "  ORDER BY s.outcome = 'error', s.position LIMIT 1) ";

class SqliteStore final : public ResultsStore {
public:
    explicit SqliteStore(QString path)
        : m_path(std::move(path)),
          m_connection(QStringLiteral("rio.store.%1").arg(g_connections.fetch_add(1))) {}

    ~SqliteStore() override {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
    }

    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    void open(Access access, Durability durability);

    QString name() const override { return QStringLiteral("sqlite:") + m_path; }

    StoreStatus beginRun(TestRecord& record) override;
    StoreStatus completeRun(const TestRecord& record) override;
    StoreResult<int> abortRunning(const QString& station) override;
    StoreResult<std::vector<RunSummary>> history(const QString& unit) override;
    StoreResult<std::vector<RunSummary>> latestRuns(const QString& station, int limit) override;
    StoreResult<YieldFigures> yieldFigures(const Period& period) override;
    StoreResult<std::vector<ParetoEntry>> pareto(const Period& period) override;

private:
    // BEGIN IMMEDIATE takes the write lock at once, so that what the
    // transaction reads (an attempt count, the schema version) cannot change
    // before it writes. Rolled back unless committed.
    class Transaction {
    public:
        explicit Transaction(SqliteStore& store) : m_store(store) {
            m_store.execute("BEGIN IMMEDIATE");
        }
        ~Transaction() {
            if (m_open) {
                QSqlQuery rollback(m_store.m_db);
                rollback.exec(QStringLiteral("ROLLBACK"));
            }
        }
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        void commit() {
            m_store.execute("COMMIT");
            m_open = false;
        }

    private:
        SqliteStore& m_store;
        bool m_open = true;
    };

    [[nodiscard]] QSqlQuery prepare(const QString& sql);
    void run(QSqlQuery& query);
    void execute(const QString& sql);
    void execute(const char* sql) { execute(QString::fromLatin1(sql)); }
    // The first column of the first row; the statement is finished, since a
    // transaction cannot commit while one is still in progress.
    [[nodiscard]] QVariant scalar(QSqlQuery& query, const char* what);
    [[nodiscard]] int userVersion();
    void migrate();
    [[nodiscard]] std::vector<RunSummary> summaries(QSqlQuery& query);

    // Runs `body`, turning a failure into the result's reason.
    template <typename T, typename Body> StoreResult<T> guarded(const char* what, Body body) {
        try {
            return StoreResult<T>(body());
        } catch (const StoreFailure& failure) {
            return StoreResult<T>::failure(
                QStringLiteral("%1: %2: %3").arg(name(), QLatin1String(what), failure.reason));
        }
    }

    QString m_path;
    QString m_connection;
    QSqlDatabase m_db;
};

QSqlQuery SqliteStore::prepare(const QString& sql) {
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        throw StoreFailure{reasonOf(query.lastError())};
    return query;
}

void SqliteStore::run(QSqlQuery& query) {
    if (!query.exec())
        throw StoreFailure{reasonOf(query.lastError())};
}

void SqliteStore::execute(const QString& sql) {
    QSqlQuery query(m_db);
    if (!query.exec(sql))
        throw StoreFailure{reasonOf(query.lastError())};
}

QVariant SqliteStore::scalar(QSqlQuery& query, const char* what) {
    run(query);
    if (!query.next())
        throw StoreFailure{QStringLiteral("%1 cannot be read").arg(QLatin1String(what))};
    QVariant value = query.value(0);
    query.finish();
    return value;
}

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
    Transaction transaction(*this);
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
        Transaction transaction(*this);
        int attempt = 1;
        if (!record.unit.isEmpty()) {
            QSqlQuery count =
                prepare(QStringLiteral("SELECT COUNT(*) FROM runs WHERE unit = :unit"));
            count.bindValue(QStringLiteral(":unit"), record.unit);
            attempt = scalar(count, "the unit's attempts").toInt() + 1;
        }
        QSqlQuery insert = prepare(QStringLiteral(
            "INSERT INTO runs (uuid, unit, attempt, station, host, operator, address,"
            " plan_file, plan_sha256, start, verdict, message, version)"
            " VALUES (:uuid, :unit, :attempt, :station, :host, :operator, :address,"
            " :plan_file, :plan_sha256, :start, 'RUNNING', '', :version)"));
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
        run(insert);
        transaction.commit();
        record.uuid = uuid;
        record.attempt = attempt;
        return Done{};
    });
}

StoreStatus SqliteStore::completeRun(const TestRecord& record) {
    return guarded<Done>("cannot record the run's end", [&] {
        Transaction transaction(*this);
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

std::vector<RunSummary> SqliteStore::summaries(QSqlQuery& query) {
    run(query);
    std::vector<RunSummary> runs;
    while (query.next()) {
        RunSummary summary;
        summary.uuid = textOf(query.value(0));
        summary.unit = textOf(query.value(1));
        summary.attempt = query.value(2).toInt();
        summary.station = textOf(query.value(3));
        summary.operatorName = textOf(query.value(4));
        summary.address = textOf(query.value(5));
        summary.planFile = textOf(query.value(6));
        summary.planSha256 = textOf(query.value(7));
        summary.start = textOf(query.value(8));
        summary.end = textOf(query.value(9));
        summary.verdict = textOf(query.value(10));
        summary.message = textOf(query.value(11));
        summary.failingStep = textOf(query.value(12));
        summary.stepMessage = textOf(query.value(13));
        runs.push_back(std::move(summary));
    }
    return runs;
}

StoreResult<std::vector<RunSummary>> SqliteStore::history(const QString& unit) {
    return guarded<std::vector<RunSummary>>("cannot read the unit's history", [&] {
        QSqlQuery query = prepare(QLatin1String(kRunSummarySelect) +
                                  QStringLiteral("WHERE r.unit = :unit "
                                                 "ORDER BY r.start DESC, r.id DESC"));
        query.bindValue(QStringLiteral(":unit"), unit);
        return summaries(query);
    });
}

StoreResult<std::vector<RunSummary>> SqliteStore::latestRuns(const QString& station, int limit) {
    return guarded<std::vector<RunSummary>>("cannot read the station's runs", [&] {
        QSqlQuery query = prepare(QLatin1String(kRunSummarySelect) +
                                  QStringLiteral("WHERE r.station = :station "
                                                 "ORDER BY r.start DESC, r.id DESC LIMIT :limit"));
        query.bindValue(QStringLiteral(":station"), station);
        query.bindValue(QStringLiteral(":limit"), limit);
        return summaries(query);
    });
}

// Binds a period's bounds and station to :since, :until and :station.
void bindPeriod(QSqlQuery& query, const Period& period) {
    query.bindValue(QStringLiteral(":since"),
                    period.since ? storeTime(*period.since) : QStringLiteral(""));
    query.bindValue(QStringLiteral(":until"), period.until ? storeTime(*period.until) : kEndOfTime);
    query.bindValue(QStringLiteral(":station"), text(period.station));
}

StoreResult<YieldFigures> SqliteStore::yieldFigures(const Period& period) {
    return guarded<YieldFigures>("cannot read the yield", [&] {
        YieldFigures figures;
        // The period's judged runs in order per unit, each with whether the
        // unit had a judged run before the period: such a unit entered test
        // in an earlier period and is counted there.
        QSqlQuery judged = prepare(QStringLiteral(
            "SELECT r.unit, r.verdict, EXISTS ("
            "  SELECT 1 FROM runs e WHERE e.unit = r.unit AND e.start < :since"
            "  AND e.verdict IN ('PASS', 'FAIL') AND (:station = '' OR e.station = :station))"
            " FROM runs r"
            " WHERE r.start >= :since AND r.start < :until AND r.unit IS NOT NULL"
            " AND r.verdict IN ('PASS', 'FAIL') AND (:station = '' OR r.station = :station)"
            " ORDER BY r.unit, r.start, r.id"));
        bindPeriod(judged, period);
        run(judged);
        QString unit;
        QString last;
        bool counted = false;
        const auto close = [&] {
            if (counted && last == QStringLiteral("PASS"))
                ++figures.finalPass;
        };
        while (judged.next()) {
            const QString runUnit = judged.value(0).toString();
            const QString verdict = judged.value(1).toString();
            if (runUnit != unit) {
                close();
                unit = runUnit;
                counted = !judged.value(2).toBool();
                if (counted) {
                    ++figures.unitsTested;
                    if (verdict == QStringLiteral("PASS"))
                        ++figures.firstPass;
                }
            }
            last = verdict;
        }
        close();

        QSqlQuery verdicts =
            prepare(QStringLiteral("SELECT verdict, COUNT(*) FROM runs"
                                   " WHERE start >= :since AND start < :until"
                                   " AND (:station = '' OR station = :station) GROUP BY verdict"));
        bindPeriod(verdicts, period);
        run(verdicts);
        while (verdicts.next()) {
            const QString verdict = verdicts.value(0).toString();
            const int count = verdicts.value(1).toInt();
            figures.runs += count;
            if (verdict == QStringLiteral("PASS"))
                figures.pass = count;
            else if (verdict == QStringLiteral("FAIL"))
                figures.fail = count;
            else if (verdict == QStringLiteral("ERROR"))
                figures.error = count;
            else if (verdict == QStringLiteral("ABORTED"))
                figures.aborted = count;
            else if (verdict == QStringLiteral("RUNNING"))
                figures.running = count;
        }
        return figures;
    });
}

StoreResult<std::vector<ParetoEntry>> SqliteStore::pareto(const Period& period) {
    return guarded<std::vector<ParetoEntry>>("cannot read the failures", [&] {
        QSqlQuery query = prepare(
            QStringLiteral("SELECT s.name, s.message, COUNT(*) AS n"
                           " FROM runs r JOIN steps s ON s.run_id = r.id"
                           " WHERE r.start >= :since AND r.start < :until"
                           " AND (:station = '' OR r.station = :station) AND s.outcome = 'fail'"
                           " GROUP BY s.name, s.message ORDER BY n DESC, s.name, s.message"));
        bindPeriod(query, period);
        run(query);
        std::vector<ParetoEntry> entries;
        while (query.next())
            entries.push_back(
                {query.value(0).toString(), query.value(1).toString(), query.value(2).toInt()});
        return entries;
    });
}

} // namespace

StoreResult<std::unique_ptr<ResultsStore>> openSqliteStore(const QString& path, Access access,
                                                           Durability durability) {
    auto store = std::make_unique<SqliteStore>(path);
    try {
        store->open(access, durability);
    } catch (const StoreFailure& failure) {
        return StoreResult<std::unique_ptr<ResultsStore>>::failure(
            QStringLiteral("cannot open the store sqlite:%1: %2").arg(path, failure.reason));
    }
    return StoreResult<std::unique_ptr<ResultsStore>>(std::move(store));
}

} // namespace rio::store
