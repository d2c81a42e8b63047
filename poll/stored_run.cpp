#include "poll/stored_run.h"

namespace rio::poll {

// riopoll is a face of the board test: its plan, steps, record and report.
using namespace boardtest;

StoredRun::StoredRun(std::optional<store::StoreLocation> location)
    : m_location(std::move(location)) {}

QString StoredRun::begin(TestRecord& record) {
    if (!m_location)
        return {};
    auto opened = store::openStore(*m_location, store::Access::ReadWrite);
    if (!opened) {
        m_failure = opened.error();
        return m_failure;
    }
    m_store = std::move(opened.value());
    if (const store::StoreStatus begun = m_store->beginRun(record); !begun) {
        m_failure = begun.error();
        m_store.reset();
    }
    return m_failure;
}

QString StoredRun::complete(const TestRecord& record) {
    if (!m_location)
        return {};
    if (!m_store)
        return m_failure;
    const store::StoreStatus completed = m_store->completeRun(record);
    return completed ? QString() : completed.error();
}

} // namespace rio::poll
