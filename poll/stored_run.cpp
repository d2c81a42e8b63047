#include "poll/stored_run.h"

#include "store/upload.h"

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

QString StoredRun::forward(std::chrono::milliseconds patience) {
    if (!m_location || !m_location->server)
        return {};
    m_store.reset();
    auto uploader = store::Uploader::open(*m_location);
    if (!uploader)
        return QStringLiteral("cannot upload: %1").arg(uploader.error());
    const store::UploadProgress progress =
        uploader.value()->upload(std::chrono::steady_clock::now() + patience);
    const QString server = store::describe(*m_location->server);
    if (progress.waiting == 0)
        return QStringLiteral("uploaded %1 run(s) to %2; none waiting")
            .arg(progress.uploaded)
            .arg(server);
    return QStringLiteral("%1 result(s) waiting for the server %2%3; the next riopoll or "
                          "riostation on this machine sends them, or riopoll --upload --store "
                          "URL")
        .arg(progress.waiting < 0 ? QStringLiteral("some") : QString::number(progress.waiting))
        .arg(server)
        .arg(progress.reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(progress.reason));
}

} // namespace rio::poll
