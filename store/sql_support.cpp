#include "store/sql_support.h"
#include "store/results_store.h"

#include <QSqlError>

#include <atomic>

namespace rio::store {

QString reasonOf(const QSqlError& error) {
    // libpq's messages run over lines ("...failed: ...\n\tIs the server
    // running...?"); a reason is one line on a screen and in a log.
    return (error.databaseText().isEmpty() ? error.text() : error.databaseText()).simplified();
}

QSqlQuery prepare(const QSqlDatabase& db, const QString& sql) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        throw StoreFailure{reasonOf(query.lastError())};
    return query;
}

void run(QSqlQuery& query) {
    if (!query.exec())
        throw StoreFailure{reasonOf(query.lastError())};
}

void execute(const QSqlDatabase& db, const QString& sql) {
    QSqlQuery query(db);
    if (!query.exec(sql))
        throw StoreFailure{reasonOf(query.lastError())};
}

QVariant scalar(QSqlQuery& query, const char* what) {
    run(query);
    if (!query.next())
        throw StoreFailure{QStringLiteral("%1 cannot be read").arg(QLatin1String(what))};
    QVariant value = query.value(0);
    query.finish();
    return value;
}

QVariant text(const QString& value) {
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

QVariant optionalText(const QString& value) {
    return value.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(value);
}

QString textOf(const QVariant& value) {
    return value.isNull() ? QString() : value.toString();
}

Transaction::Transaction(const QSqlDatabase& db, const char* begin) : m_db(db) {
    execute(m_db, QString::fromLatin1(begin));
}

Transaction::~Transaction() {
    if (m_open)
        QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
}

void Transaction::commit() {
    execute(m_db, QStringLiteral("COMMIT"));
    m_open = false;
}

QString newConnectionName() {
    static std::atomic<int> connections{0};
    return QStringLiteral("rio.store.%1").arg(connections.fetch_add(1));
}

} // namespace rio::store
