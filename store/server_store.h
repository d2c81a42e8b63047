#pragma once
// The PostgreSQL back end: a line's shared server. Stations never write runs
// to it as they test; their uploaders send finished runs from each station's
// outbox, one server transaction each, keyed on the run's UUID. Reads answer
// the same questions as the station's own file, for the whole line.

#include "store/results_store.h"
#include "store/sqlite_store.h"
#include "store/upload.h"

namespace rio::store {

inline constexpr int kServerSchemaVersion = 1;

class ServerStore : public ResultsStore {
public:
    // Connects and, for ReadWrite, applies the schema's migrations under an
    // advisory lock, so that stations starting together migrate once. A
    // server whose schema is newer is refused and never written to.
    [[nodiscard]] virtual StoreStatus connect(Access access) = 0;
    // Connected, as far as the last statement knows.
    [[nodiscard]] virtual bool connected() const = 0;

    // The run with its steps and measurements in one transaction. A run the
    // server already holds (a retry after a lost acknowledgement) is left as
    // it is; either way the run is on the server when this succeeds. A
    // failure closes the connection: the next call connects again.
    virtual StoreStatus storeRun(const QueuedRun& run, const UploadFaults& faults) = 0;
};

// Not connected yet.
[[nodiscard]] std::unique_ptr<ServerStore> makeServerStore(const ServerAddress& server);

} // namespace rio::store
