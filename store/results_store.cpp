#include "store/results_store.h"

#include "store/server_store.h"
#include "store/sqlite_store.h"

#include <QDateTime>

#include <algorithm>

namespace rio::store {

namespace {

// A station on a line: its runs go into its own file first, which the
// uploader drains to the server; the line's questions go to the server.
class LineStore final : public ResultsStore {
public:
    LineStore(std::unique_ptr<ResultsStore> local, std::unique_ptr<ServerStore> server)
        : m_local(std::move(local)), m_server(std::move(server)) {}

    QString name() const override { return m_server->name(); }

    StoreStatus beginRun(TestRecord& record) override { return m_local->beginRun(record); }
    StoreStatus completeRun(const TestRecord& record) override {
        return m_local->completeRun(record);
    }
    StoreResult<int> abortRunning(const QString& station) override {
        return m_local->abortRunning(station);
    }
    // The line's runs of the unit, and this station's that wait to be sent
    // (the run just tested among them): newest first, each once.
    StoreResult<std::vector<RunSummary>> history(const QString& unit) override {
        auto line = m_server->history(unit);
        if (!line)
            return line;
        auto own = m_local->history(unit);
        if (!own)
            return own;
        std::vector<RunSummary>& runs = line.value();
        for (RunSummary& run : own.value())
            if (std::none_of(runs.begin(), runs.end(),
                             [&](const RunSummary& r) { return r.uuid == run.uuid; }))
                runs.push_back(std::move(run));
        std::stable_sort(runs.begin(), runs.end(), [](const RunSummary& a, const RunSummary& b) {
            return a.start > b.start;
        });
        return line;
    }
    // The station's own runs, there whether the server is or not.
    StoreResult<std::vector<RunSummary>> latestRuns(const QString& station, int limit) override {
        return m_local->latestRuns(station, limit);
    }
    StoreResult<YieldFigures> yieldFigures(const Period& period) override {
        return m_server->yieldFigures(period);
    }
    StoreResult<std::vector<ParetoEntry>> pareto(const Period& period) override {
        return m_server->pareto(period);
    }
    StoreResult<std::vector<QString>> stations(const Period& period) override {
        return m_server->stations(period);
    }

private:
    std::unique_ptr<ResultsStore> m_local;
    std::unique_ptr<ServerStore> m_server;
};

} // namespace

StoreResult<std::unique_ptr<ResultsStore>> openStore(const StoreLocation& location, Access access,
                                                     Durability durability) {
    using Opened = StoreResult<std::unique_ptr<ResultsStore>>;
    if (!location.server)
        return openSqliteStore(location.path, access, durability);
    std::unique_ptr<ServerStore> server = makeServerStore(*location.server);
    if (access == Access::ReadOnly) {
        const StoreStatus connected = server->connect(Access::ReadOnly);
        if (!connected)
            return Opened::failure(connected.error());
        return Opened(std::move(server));
    }
    // The server is not needed to begin: the uploader reaches it later.
    auto local = openSqliteStore(location.path, Access::ReadWrite, durability, true);
    if (!local)
        return Opened::failure(local.error());
    return Opened(std::make_unique<LineStore>(std::move(local.value()), std::move(server)));
}

int schemaVersion() {
    return kSqliteSchemaVersion;
}

int serverSchemaVersion() {
    return kServerSchemaVersion;
}

QString storeTime(WallClock::time_point time) {
    using namespace std::chrono;
    return QDateTime::fromMSecsSinceEpoch(
               duration_cast<milliseconds>(time.time_since_epoch()).count(), Qt::UTC)
        .toString(Qt::ISODateWithMs);
}

} // namespace rio::store
