#pragma once
// The results store: every board test run, kept as the quality system files
// it, and the questions asked of it (a unit's history, a station's latest
// runs, yield, the failures' Pareto). A run goes in as RUNNING when it starts
// and is completed in one transaction when it ends; a run that never ends
// (the process died, the power went) is marked ABORTED by its station's next
// start. docs/station.md describes the tables and what each figure counts.
//
// Every call returns whether it worked and, when not, why: a result that was
// not kept did not happen, so a caller that cannot store refuses to test.
// A store object holds one database connection of its own and is used from
// the thread that opened it; another thread opens its own.

#include "boardtest/test_record.h"
#include "store/store_location.h"

#include <QString>

#include <chrono>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace rio::store {

using boardtest::TestRecord;
using boardtest::WallClock;

// A value, or why there is none.
template <typename T> class [[nodiscard]] StoreResult {
public:
    StoreResult(T value) : m_value(std::move(value)) {}
    static StoreResult failure(QString reason) {
        StoreResult result;
        result.m_error = std::move(reason);
        return result;
    }

    [[nodiscard]] bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    [[nodiscard]] const T& value() const { return *m_value; }
    [[nodiscard]] T& value() { return *m_value; }
    [[nodiscard]] const QString& error() const { return m_error; }

private:
    StoreResult() = default;
    std::optional<T> m_value;
    QString m_error;
};

struct Done {};
using StoreStatus = StoreResult<Done>;

// A run as the history lists it. Texts as stored; a NULL column is an empty
// text. failingStep is the first step that failed, else the first that could
// not run; empty when none did.
struct RunSummary {
    QString uuid;
    QString unit;
    int attempt = 0;
    QString station;
    QString operatorName;
    QString address;
    QString planFile;
    QString planSha256;
    QString start;   // ISO 8601 UTC with milliseconds
    QString end;     // empty while RUNNING, and for an ABORTED run
    QString verdict; // PASS, FAIL, ERROR, RUNNING, ABORTED
    QString message;
    QString failingStep;
    QString stepMessage;
};

// Runs that started in [since, until), at one station or all. An absent
// bound is open.
struct Period {
    std::optional<WallClock::time_point> since;
    std::optional<WallClock::time_point> until;
    QString station; // empty: every station
};

// What docs/station.md defines: units are counted in the period their first
// judged (PASS or FAIL) run started in; ERROR and ABORTED runs judge nothing.
struct YieldFigures {
    int unitsTested = 0;
    int firstPass = 0; // the unit's first judged run passed
    int finalPass = 0; // the unit's last judged run before the period's end passed
    // Every run that started in the period, by verdict.
    int runs = 0;
    int pass = 0;
    int fail = 0;
    int error = 0;
    int aborted = 0;
    int running = 0;
};

// Failed steps of the period's runs, by step and message.
struct ParetoEntry {
    QString step;
    QString message;
    int count = 0;
};

class ResultsStore {
public:
    virtual ~ResultsStore() = default;

    // "sqlite:/path/results.sqlite", for messages.
    [[nodiscard]] virtual QString name() const = 0;

    // Inserts the run as RUNNING. Gives the record a UUID when it has none and
    // its attempt number: the unit's earlier runs, whatever their verdict,
    // plus one, counted in the same transaction (1 for a run without a unit).
    // The record's unit, station and start are final from here on.
    virtual StoreStatus beginRun(TestRecord& record) = 0;

    // In one transaction: the run's verdict, end, message, address and plan
    // hash, its steps and their measurements. Refused when the run is not
    // RUNNING in the store (e.g. its station marked it ABORTED meanwhile).
    virtual StoreStatus completeRun(const TestRecord& record) = 0;

    // Marks this station's RUNNING runs ABORTED; how many there were. For a
    // station at start-up only: a run that is RUNNING then was cut short.
    virtual StoreResult<int> abortRunning(const QString& station) = 0;

    // Every run of the unit, newest first.
    virtual StoreResult<std::vector<RunSummary>> history(const QString& unit) = 0;
    // The station's latest runs, newest first.
    virtual StoreResult<std::vector<RunSummary>> latestRuns(const QString& station, int limit) = 0;
    virtual StoreResult<YieldFigures> yieldFigures(const Period& period) = 0;
    // Most frequent first; ties by step, then message.
    virtual StoreResult<std::vector<ParetoEntry>> pareto(const Period& period) = 0;
    // The stations with runs in the period, by name.
    virtual StoreResult<std::vector<QString>> stations(const Period& period) = 0;
};

enum class Access {
    ReadWrite, // made and migrated when needed, checked by a committed write
    ReadOnly,  // must exist with this program's schema; never written
};

enum class Durability {
    Synced, // every commit is on the disk before it returns
    // Commits are not synced: only for filling a throwaway store in bulk (the
    // benchmark's generator). A crash may lose them.
    Unsynced,
};

// Opens the store, applying the schema's migrations in order when written.
// A store whose schema is newer than this program's is refused.
//
// With a line's server in the location: for ReadWrite, the station's own
// file is opened and every run begun is kept there first, to wait for the
// uploader (upload.h); the server need not be reachable. A unit's history,
// yield, Pareto and stations are read from the server, so they cover the
// whole line; the station's latest runs from its own file. For ReadOnly,
// only the server is opened, and must be reachable.
[[nodiscard]] StoreResult<std::unique_ptr<ResultsStore>>
openStore(const StoreLocation& location, Access access, Durability durability = Durability::Synced);

// The schema version this program writes (SQLite: PRAGMA user_version).
[[nodiscard]] int schemaVersion();
// The server's (its table schema_version).
[[nodiscard]] int serverSchemaVersion();

// "2026-12-08T05:12:03.123Z", as the store keeps times: UTC, milliseconds
// truncated, so that text order is time order.
[[nodiscard]] QString storeTime(WallClock::time_point time);

} // namespace rio::store
