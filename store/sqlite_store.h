#pragma once
// The SQLite back end: the station's own file, in WAL mode so that a reader
// (riopoll --history, a quality engineer's tool) never holds up a test that
// is being recorded. Reached through openStore().

#include "store/results_store.h"

namespace rio::store {

inline constexpr int kSqliteSchemaVersion = 1;

[[nodiscard]] StoreResult<std::unique_ptr<ResultsStore>>
openSqliteStore(const QString& path, Access access, Durability durability);

} // namespace rio::store
