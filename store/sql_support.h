#pragma once
// What both back ends share below the store's interface: a failure thrown so
// that no statement's result can go unchecked (each public call turns it
// into its StoreResult), and the statement helpers that throw it.

#include "store/results_store.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

namespace rio::store {

struct StoreFailure {
    QString reason;
};

[[nodiscard]] QString reasonOf(const QSqlError& error);

[[nodiscard]] QSqlQuery prepare(const QSqlDatabase& db, const QString& sql);
void run(QSqlQuery& query);
void execute(const QSqlDatabase& db, const QString& sql);
// The first column of the first row; the statement is finished, since a
// transaction cannot commit while one is still in progress.
[[nodiscard]] QVariant scalar(QSqlQuery& query, const char* what);

// A text for a NOT NULL column: Qt binds a null QString as NULL.
[[nodiscard]] QVariant text(const QString& value);
// A text that is NULL when empty.
[[nodiscard]] QVariant optionalText(const QString& value);
[[nodiscard]] QString textOf(const QVariant& value);

// A transaction on `db`, begun with `begin` ("BEGIN", or SQLite's "BEGIN
// IMMEDIATE"), rolled back when it goes out of scope uncommitted: a failure
// thrown in the middle leaves nothing of it.
class Transaction {
public:
    Transaction(const QSqlDatabase& db, const char* begin = "BEGIN");
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    QSqlDatabase m_db;
    bool m_open = true;
};

// A connection name no other store object uses.
[[nodiscard]] QString newConnectionName();

// Runs `body`, turning a failure into the result's reason, prefixed with the
// store's name and what was being done.
template <typename T, typename Body>
StoreResult<T> guarded(const QString& name, const char* what, Body body) {
    try {
        return StoreResult<T>(body());
    } catch (const StoreFailure& failure) {
        return StoreResult<T>::failure(
            QStringLiteral("%1: %2: %3").arg(name, QLatin1String(what), failure.reason));
    }
}

} // namespace rio::store
