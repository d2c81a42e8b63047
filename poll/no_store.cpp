// riopoll built without the results store (RIO_WITH_STORE off: the Windows
// build, whose Qt has no SQL). Every option that needs the store is refused
// here, before anything is opened, so that a run asked to be kept can never
// pass as one that was; this file stands in for stored_run.cpp and
// store_query.cpp.
#include "poll/store_query.h"
#include "poll/stored_run.h"

#include <cstdio>

namespace rio::poll {

namespace {

const QString kNotBuilt = QStringLiteral("the results store is not part of this build");

} // namespace

// The options that need the store; riopoll hands the command line to
// runStoreQuery() when one is there.
bool isStoreQuery(const QStringList& arguments) {
    for (const QString& argument : arguments.mid(1)) {
        for (const char* option : {"--store", "--history", "--yield", "--pareto", "--upload"}) {
            const QString name = QLatin1String(option);
            if (argument == name || argument.startsWith(name + QLatin1Char('=')))
                return true;
        }
    }
    return false;
}

int runStoreQuery(const QStringList& arguments) {
    static_cast<void>(arguments);
    std::fprintf(stderr, "riopoll: %s\n", qUtf8Printable(kNotBuilt));
    return 2;
}

StoredRun::StoredRun(std::optional<store::StoreLocation> location)
    : m_location(std::move(location)) {}

QString StoredRun::begin(boardtest::TestRecord& record) {
    static_cast<void>(record);
    if (m_location)
        m_failure = kNotBuilt;
    return m_failure;
}

QString StoredRun::complete(const boardtest::TestRecord& record) {
    static_cast<void>(record);
    return m_failure;
}

QString StoredRun::forward(std::chrono::milliseconds patience) {
    static_cast<void>(patience);
    return {};
}

} // namespace rio::poll
