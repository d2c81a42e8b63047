#include "store/queries.h"

#include "store/sql_support.h"

#include <algorithm>

namespace rio::store::queries {

namespace {

// Later than any run's start, for a period without an end.
const QString kEndOfTime = QStringLiteral("9999-12-31T23:59:59.999Z");

// The columns of RunSummary, and the step that failed (else could not run).
const char* const kRunSummarySelect =
    "SELECT r.uuid, r.unit, r.attempt, r.station, r.operator, r.address, r.plan_file,"
    " r.plan_sha256, r.start, r.\"end\", r.verdict, r.message, f.name, f.message"
    " FROM runs r LEFT JOIN steps f ON f.id = ("
    "  SELECT s.id FROM steps s WHERE s.run_id = r.id AND s.outcome IN ('fail', 'error')"
    "  ORDER BY s.outcome = 'error', s.position LIMIT 1) ";

std::vector<RunSummary> summaries(QSqlQuery& query) {
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

// Binds a period's bounds and station to :since, :until and :station.
void bindPeriod(QSqlQuery& query, const Period& period) {
    query.bindValue(QStringLiteral(":since"),
                    period.since ? storeTime(*period.since) : QStringLiteral(""));
    query.bindValue(QStringLiteral(":until"), period.until ? storeTime(*period.until) : kEndOfTime);
    query.bindValue(QStringLiteral(":station"), text(period.station));
}

} // namespace

std::vector<RunSummary> history(const QSqlDatabase& db, const QString& unit) {
    QSqlQuery query = prepare(db, QLatin1String(kRunSummarySelect) +
                                      QStringLiteral("WHERE r.unit = :unit "
                                                     "ORDER BY r.start DESC, r.id DESC"));
    query.bindValue(QStringLiteral(":unit"), unit);
    return summaries(query);
}

std::vector<RunSummary> latestRuns(const QSqlDatabase& db, const QString& station, int limit) {
    QSqlQuery query = prepare(db, QLatin1String(kRunSummarySelect) +
                                      QStringLiteral("WHERE r.station = :station "
                                                     "ORDER BY r.start DESC, r.id DESC "
                                                     "LIMIT :limit"));
    query.bindValue(QStringLiteral(":station"), station);
    query.bindValue(QStringLiteral(":limit"), limit);
    return summaries(query);
}

YieldFigures yieldFigures(const QSqlDatabase& db, const Period& period) {
    YieldFigures figures;
    // The period's judged runs in order per unit, each with whether the unit
    // had a judged run before the period: such a unit entered test in an
    // earlier period and is counted there.
    QSqlQuery judged = prepare(
        db, QStringLiteral(
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
        prepare(db, QStringLiteral("SELECT verdict, COUNT(*) FROM runs"
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
}

std::vector<ParetoEntry> pareto(const QSqlDatabase& db, const Period& period) {
    QSqlQuery query = prepare(
        db, QStringLiteral("SELECT s.name, s.message, COUNT(*)"
                           " FROM runs r JOIN steps s ON s.run_id = r.id"
                           " WHERE r.start >= :since AND r.start < :until"
                           " AND (:station = '' OR r.station = :station) AND s.outcome = 'fail'"
                           " GROUP BY s.name, s.message"));
    bindPeriod(query, period);
    run(query);
    std::vector<ParetoEntry> entries;
    while (query.next())
        entries.push_back(
            {query.value(0).toString(), query.value(1).toString(), query.value(2).toInt()});
    // Ties in code, so that both back ends order texts alike whatever the
    // server's collation.
    std::sort(entries.begin(), entries.end(), [](const ParetoEntry& a, const ParetoEntry& b) {
        if (a.count != b.count)
            return a.count > b.count;
        if (a.step != b.step)
            return a.step < b.step;
        return a.message < b.message;
    });
    return entries;
}

std::vector<QString> stations(const QSqlDatabase& db, const Period& period) {
    QSqlQuery query = prepare(db, QStringLiteral("SELECT DISTINCT station FROM runs"
                                                 " WHERE start >= :since AND start < :until"
                                                 " AND (:station = '' OR station = :station)"));
    bindPeriod(query, period);
    run(query);
    std::vector<QString> names;
    while (query.next())
        names.push_back(query.value(0).toString());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace rio::store::queries
