#pragma once
// Where a results store lives, read from the one text every program takes for
// it (riopoll --store, the station's setting). The only place that reads it:
//   default              the station's own SQLite file,
//                        $XDG_DATA_HOME/riopanel/results.sqlite
//   sqlite:PATH          another SQLite file (relative to the working folder)
//   postgresql://[user@]host[:port]/dbname[?param=value&...]
//                        a line's shared server; the station's own file stays
//                        its outbox. A host of "" with ?host=/run/postgresql
//                        is a Unix socket folder.
// A password never comes from this text: libpq finds it where its users keep
// it (~/.pgpass, PGPASSFILE, a service file, PGPASSWORD).

#include <QString>

#include <optional>

namespace rio::store {

// A PostgreSQL server as libpq is to reach it. Empty fields are left to
// libpq's own defaults and environment (PGHOST, PGPORT, PGUSER, ...).
struct ServerAddress {
    QString host; // a name, an address, or a socket folder (starts with '/')
    int port = 0; // 0: libpq's default
    QString database;
    QString user;
    // Further connection parameters, "key=value;key=value" as Qt's driver
    // takes them: sslmode, sslrootcert, sslcert, sslkey, connect_timeout,
    // application_name, service, target_session_attrs.
    QString options;
};

struct StoreLocation {
    // The station's own SQLite file: the store itself, or with a server its
    // outbox, where every run is kept first.
    QString path;
    std::optional<ServerAddress> server = std::nullopt;
};

struct ParsedLocation {
    std::optional<StoreLocation> location;
    QString error; // why not, for the user
};

[[nodiscard]] ParsedLocation parseStoreLocation(const QString& text);

// $XDG_DATA_HOME/riopanel/results.sqlite ($HOME/.local/share/... without it).
[[nodiscard]] QString defaultSqlitePath();

// The location as a person reads it in a message: "sqlite:/var/lib/x.sqlite",
// "postgresql://rio@db1:5432/results". Never holds a password.
[[nodiscard]] QString describe(const StoreLocation& location);
[[nodiscard]] QString describe(const ServerAddress& server);

} // namespace rio::store
