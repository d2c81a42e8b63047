#include "store/results_store.h"

#include "store/sqlite_store.h"

#include <QDateTime>

namespace rio::store {

StoreResult<std::unique_ptr<ResultsStore>> openStore(const StoreLocation& location, Access access,
                                                     Durability durability) {
    switch (location.backend) {
    case Backend::Sqlite:
        return openSqliteStore(location.path, access, durability);
    }
    return StoreResult<std::unique_ptr<ResultsStore>>::failure(QStringLiteral("unknown store"));
}

int schemaVersion() {
    return kSqliteSchemaVersion;
}

QString storeTime(WallClock::time_point time) {
    using namespace std::chrono;
    return QDateTime::fromMSecsSinceEpoch(
               duration_cast<milliseconds>(time.time_since_epoch()).count(), Qt::UTC)
        .toString(Qt::ISODateWithMs);
}

} // namespace rio::store
