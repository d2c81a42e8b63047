#pragma once
// The throwaway PostgreSQL server scripts/test starts for the run
// (start_test_server in scripts/common.sh), as the tests reach it: the socket
// folder, the cluster's files and the OS user it runs as, from the RIO_TEST_PG*
// variables. Each test takes a database of its own, so that two test
// processes of a parallel ctest never share one. SQL goes through Qt's QPSQL
// driver as the superuser "rio", on a connection of its own that is closed
// after each call. The tests that stop or kill the server are RUN_SERIAL.

#include <QString>
#include <QStringList>

#include <optional>

namespace rio::test {

class TestServer {
public:
    // The server the environment names, when there is one with a socket and
    // Qt's driver for it is installed. Sets PGUSER to its superuser when
    // unset, for url() without a user, in this process and those it starts.
    [[nodiscard]] static std::optional<TestServer> fromEnvironment();
    // Why fromEnvironment() found none, for QSKIP.
    [[nodiscard]] static QString skipReason();

    // CREATE DATABASE with a name no other test process uses, starting with
    // `prefix`; the name, or empty when it could not be made (logged why).
    [[nodiscard]] QString newDatabase(const QString& prefix) const;

    // "postgresql:///db?host=<socket folder>", or with a user
    // "postgresql://user@/db?host=...".
    [[nodiscard]] QString url(const QString& db, const QString& user = {}) const;

    [[nodiscard]] const QString& socketFolder() const { return m_host; }

    // pg_ctl stop (fast) and start, each waiting until done.
    [[nodiscard]] bool stop() const;
    [[nodiscard]] bool start() const;
    // The server killed at once, as when its machine dies: SIGKILL to the
    // postmaster and every process it had started; true once all are gone.
    // start() afterwards recovers the cluster.
    [[nodiscard]] bool killHard() const;

    // The first column of the first row of `sql` in `db`; -1 when it failed.
    [[nodiscard]] qlonglong count(const QString& db, const QString& sql) const;
    [[nodiscard]] bool execute(const QString& db, const QString& sql) const;

private:
    TestServer() = default;
    [[nodiscard]] bool pgCtl(const QStringList& args) const;

    QString m_host;
    QString m_data;
    QString m_bin;
    QString m_owner;
    QString m_user;
};

} // namespace rio::test
