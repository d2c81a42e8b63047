#pragma once
// The questions asked of a store, in SQL both back ends answer alike: the
// station's own SQLite file and the line's PostgreSQL server keep the same
// tables and columns, with times as ISO 8601 UTC texts so that text order is
// time order. Each throws StoreFailure.

#include "store/results_store.h"

#include <QSqlDatabase>

#include <vector>

namespace rio::store::queries {

[[nodiscard]] std::vector<RunSummary> history(const QSqlDatabase& db, const QString& unit);
[[nodiscard]] std::vector<RunSummary> latestRuns(const QSqlDatabase& db, const QString& station,
                                                 int limit);
[[nodiscard]] YieldFigures yieldFigures(const QSqlDatabase& db, const Period& period);
[[nodiscard]] std::vector<ParetoEntry> pareto(const QSqlDatabase& db, const Period& period);
[[nodiscard]] std::vector<QString> stations(const QSqlDatabase& db, const Period& period);

} // namespace rio::store::queries
