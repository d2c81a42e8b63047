#pragma once
// riopoll --test's run in a results store: inserted as RUNNING before the
// port is opened, completed when the verdict is known. A store that cannot
// be written refuses the test, since a result that is not kept did not
// happen.

#include "boardtest/test_record.h"
#include "store/results_store.h"

#include <QString>

#include <chrono>
#include <memory>
#include <optional>

namespace rio::poll {

class StoredRun {
public:
    // No location: nothing is stored, and every call succeeds.
    explicit StoredRun(std::optional<store::StoreLocation> location);

    // Opens the store and inserts the run as RUNNING, giving the record its
    // UUID and attempt number; why not, or empty.
    [[nodiscard]] QString begin(boardtest::TestRecord& record);

    // Completes the run begun; why it could not be (the reason begin gave,
    // when the run never got in), or empty.
    [[nodiscard]] QString complete(const boardtest::TestRecord& record);

    // With a line's server: sends what waits in this machine's outbox, this
    // run and any left by earlier ones, giving up after `patience`; what to
    // tell the user, or empty without a server. Never changes the verdict:
    // what stays waits for the next riopoll or riostation on this machine.
    [[nodiscard]] QString forward(std::chrono::milliseconds patience);

private:
    std::optional<store::StoreLocation> m_location;
    std::unique_ptr<store::ResultsStore> m_store;
    QString m_failure;
};

} // namespace rio::poll
