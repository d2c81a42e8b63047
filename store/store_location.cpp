#include "store/store_location.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>

namespace rio::store {

namespace {

// The connection parameters a URL may carry beyond host, port, user and
// database; each goes to libpq as it is.
const char* const kServerOptions[] = {"sslmode",          "sslrootcert", "sslcert",
                                      "sslkey",           "sslcrl",      "connect_timeout",
                                      "application_name", "service",     "target_session_attrs"};

// Qt's driver joins the options with blanks into libpq's connection text,
// so a value is kept to characters that cannot start another parameter.
bool plainValue(const QString& value) {
    if (value.isEmpty())
        return false;
    for (const QChar c : value) {
        if (c.isSpace() || c == u'\'' || c == u'\\' || c == u';' || c == u'=' || c.unicode() < 32)
            return false;
    }
    return true;
}

ParsedLocation refused(const QString& why) {
    return {std::nullopt, why};
}

ParsedLocation serverLocation(const QString& text) {
    const QString example = QStringLiteral(
        "e.g. postgresql://rio@db1/results or postgresql:///results?host=/run/postgresql");
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return refused(QStringLiteral("not a PostgreSQL URL (%1)").arg(example));
    // Asked for before anything else, and never repeated in a message.
    if (!url.password().isEmpty())
        return refused(QStringLiteral("a store URL carries no password: put it in ~/.pgpass "
                                      "(or PGPASSFILE, a service file, PGPASSWORD)"));
    ServerAddress server;
    server.host = url.host();
    if (url.port() > 0)
        server.port = url.port();
    server.user = url.userName();
    server.database = url.path().mid(1);
    if (server.database.isEmpty() || server.database.contains(u'/'))
        return refused(QStringLiteral("a PostgreSQL store names its database (%1)").arg(example));
    if (url.hasFragment())
        return refused(QStringLiteral("a PostgreSQL store URL has no '#' part"));

    QStringList options;
    const QUrlQuery query(url);
    for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (key == QStringLiteral("password"))
            return refused(QStringLiteral("a store URL carries no password: put it in ~/.pgpass "
                                          "(or PGPASSFILE, a service file, PGPASSWORD)"));
        if (key == QStringLiteral("host")) {
            server.host = value;
            continue;
        }
        if (key == QStringLiteral("port")) {
            bool ok = false;
            const int port = value.toInt(&ok);
            if (!ok || port < 1 || port > 65535)
                return refused(QStringLiteral("the port is a number from 1 to 65535"));
            server.port = port;
            continue;
        }
        if (key == QStringLiteral("user")) {
            server.user = value;
            continue;
        }
        if (std::find(std::begin(kServerOptions), std::end(kServerOptions), key.toStdString()) ==
            std::end(kServerOptions)) {
            QString known;
            for (const char* name : kServerOptions)
                known += (known.isEmpty() ? QString() : QStringLiteral(", ")) + QLatin1String(name);
            return refused(QStringLiteral("unknown connection parameter '%1' (known: host, port, "
                                          "user, %2)")
                               .arg(key.left(40), known));
        }
        if (!plainValue(value))
            return refused(
                QStringLiteral("the value of %1 is empty or has a blank, quote, backslash, ';' "
                               "or '='")
                    .arg(key));
        options << key + u'=' + value;
    }
    server.options = options.join(u';');
    return {StoreLocation{defaultSqlitePath(), server}, {}};
}

} // namespace

ParsedLocation parseStoreLocation(const QString& text) {
    if (text == QStringLiteral("default"))
        return {StoreLocation{defaultSqlitePath(), std::nullopt}, {}};
    if (text.startsWith(QStringLiteral("sqlite:"))) {
        const QString path = text.mid(7);
        if (path.isEmpty())
            return refused(QStringLiteral("sqlite: needs a file, e.g. sqlite:results.sqlite"));
        return {StoreLocation{QFileInfo(path).absoluteFilePath(), std::nullopt}, {}};
    }
    if (text.startsWith(QStringLiteral("postgresql://")) ||
        text.startsWith(QStringLiteral("postgres://")))
        return serverLocation(text);
    return refused(QStringLiteral("a store is default, sqlite:PATH or postgresql://..., not '%1'")
                       .arg(text.left(80)));
}

QString defaultSqlitePath() {
    // GenericDataLocation is $XDG_DATA_HOME, or ~/.local/share when unset.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("riopanel/results.sqlite"));
}

QString describe(const ServerAddress& server) {
    QString text = QStringLiteral("postgresql://");
    if (!server.user.isEmpty())
        text += server.user + u'@';
    QStringList query;
    if (server.host.startsWith(u'/'))
        query << QStringLiteral("host=") + server.host;
    else if (server.host.contains(u':'))
        text += u'[' + server.host + u']';
    else
        text += server.host;
    if (server.port > 0)
        text += u':' + QString::number(server.port);
    text += u'/' + server.database;
    query += server.options.split(u';', Qt::SkipEmptyParts);
    if (!query.isEmpty())
        text += u'?' + query.join(u'&');
    return text;
}

QString describe(const StoreLocation& location) {
    if (location.server)
        return describe(*location.server);
    return QStringLiteral("sqlite:") + location.path;
}

} // namespace rio::store
