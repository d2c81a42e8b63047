#pragma once
// What a results store file holds, read through a connection of the test's
// own rather than the store's: each row of a query as "a|b|c", null as
// "null". Header-only: a test that includes it links Qt SQL (through
// rio_store) itself.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace rio::test {

inline QStringList storeRows(const QString& path, const QString& sql) {
    QStringList result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "reader");
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QSqlQuery query(db);
        if (!db.open() || !query.exec(sql))
            result << QStringLiteral("cannot read");
        while (query.next()) {
            QStringList cells;
            for (int i = 0; i < query.record().count(); ++i)
                cells << (query.isNull(i) ? QStringLiteral("null") : query.value(i).toString());
            result << cells.join(QLatin1Char('|'));
        }
    }
    QSqlDatabase::removeDatabase("reader");
    return result;
}

} // namespace rio::test
