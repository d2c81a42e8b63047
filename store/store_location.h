#pragma once
// Where a results store lives, read from the one text every program takes for
// it (riopoll --store, the station's setting). The only place that reads it:
//   default              the station's own SQLite file,
//                        $XDG_DATA_HOME/riopanel/results.sqlite
//   sqlite:PATH          another SQLite file (relative to the working folder)
//   postgresql://...     a shared server; refused until that back end exists

#include <QString>

#include <optional>

namespace rio::store {

enum class Backend { Sqlite };

struct StoreLocation {
    Backend backend = Backend::Sqlite;
    QString path; // the SQLite file, absolute
};

struct ParsedLocation {
    std::optional<StoreLocation> location;
    QString error; // why not, for the user
};

[[nodiscard]] ParsedLocation parseStoreLocation(const QString& text);

// $XDG_DATA_HOME/riopanel/results.sqlite ($HOME/.local/share/... without it).
[[nodiscard]] QString defaultSqlitePath();

// The location as a person reads it in a message: "sqlite:/var/lib/x.sqlite".
[[nodiscard]] QString describe(const StoreLocation& location);

} // namespace rio::store
