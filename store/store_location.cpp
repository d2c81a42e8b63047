#include "store/store_location.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace rio::store {

ParsedLocation parseStoreLocation(const QString& text) {
    if (text == QStringLiteral("default"))
        return {StoreLocation{Backend::Sqlite, defaultSqlitePath()}, {}};
    if (text.startsWith(QStringLiteral("sqlite:"))) {
        const QString path = text.mid(7);
        if (path.isEmpty())
            return {std::nullopt,
                    QStringLiteral("sqlite: needs a file, e.g. sqlite:results.sqlite")};
        return {StoreLocation{Backend::Sqlite, QFileInfo(path).absoluteFilePath()}, {}};
    }
    if (text.startsWith(QStringLiteral("postgresql:")) ||
        text.startsWith(QStringLiteral("postgres:")))
        return {std::nullopt, QStringLiteral("a PostgreSQL store is not supported yet; use "
                                             "default or sqlite:PATH")};
    return {std::nullopt,
            QStringLiteral("a store is default or sqlite:PATH, not '%1'").arg(text.left(80))};
}

QString defaultSqlitePath() {
    // GenericDataLocation is $XDG_DATA_HOME, or ~/.local/share when unset.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("riopanel/results.sqlite"));
}

QString describe(const StoreLocation& location) {
    switch (location.backend) {
    case Backend::Sqlite:
        return QStringLiteral("sqlite:") + location.path;
    }
    return {};
}

} // namespace rio::store
