#include "tests/support/test_server.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

#include <atomic>
#include <functional>
#include <vector>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace rio::test {

namespace {

constexpr int kPgCtlTimeoutMs = 90'000;
constexpr int kGoneTimeoutMs = 10'000;
// PostgreSQL keeps the first 63 bytes of a name.
constexpr qsizetype kPrefixLength = 32;

std::atomic<int> g_connections{0};
std::atomic<int> g_databases{0};

QString variable(const char* name) {
    return qEnvironmentVariable(name);
}

// The socket a server on the folder listens on; the cluster has no port of
// its own, so it is the default one's.
QString socketPath(const QString& folder) {
    return QDir(folder).filePath(QStringLiteral(".s.PGSQL.5432"));
}

// A process counts as gone once it has exited, even when nobody reaps it.
bool gone(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    // "pid (comm) S ...": the state follows the last ')'.
    const QByteArray line = stat.readAll();
    const qsizetype paren = line.lastIndexOf(')');
    return paren < 0 || line.mid(paren + 2, 1) == "Z";
}

// The postmaster's process id: the first line of its lock file; 0 when
// there is none.
pid_t postmasterOf(const QString& lockFile) {
    QFile file(lockFile);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.readLine().trimmed().toInt();
}

// The processes whose parent is `parent`.
std::vector<pid_t> childrenOf(pid_t parent) {
    std::vector<pid_t> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid ..."
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toInt() == parent)
            children.push_back(pid);
    }
    return children;
}

// Runs `sql` in `db` on a connection of its own, closed after; `read` sees
// the query when it worked. Why not is logged.
bool runSql(const QString& host, const QString& user, const QString& db, const QString& sql,
            const std::function<void(QSqlQuery&)>& read) {
    const QString name = QStringLiteral("rio.test_server.%1").arg(++g_connections);
    bool done = false;
    {
        QSqlDatabase connection = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        connection.setHostName(host);
        connection.setUserName(user);
        connection.setDatabaseName(db);
        if (!connection.open()) {
            qWarning("%s: %s", qPrintable(db), qPrintable(connection.lastError().text()));
        } else {
            QSqlQuery query(connection);
            done = query.exec(sql);
            if (done)
                read(query);
            else
                qWarning("%s: %s: %s", qPrintable(db), qPrintable(sql),
                         qPrintable(query.lastError().text()));
        }
        connection.close();
    }
    QSqlDatabase::removeDatabase(name);
    return done;
}

} // namespace

std::optional<TestServer> TestServer::fromEnvironment() {
    if (!skipReason().isEmpty())
        return std::nullopt;
    TestServer server;
    server.m_host = variable("RIO_TEST_PGHOST");
    server.m_data = variable("RIO_TEST_PGDATA");
    server.m_bin = variable("RIO_TEST_PGBIN");
    server.m_owner = variable("RIO_TEST_PGOWNER");
    server.m_user = variable("RIO_TEST_PGUSER");
    // A URL without a user leaves it to libpq, which takes PGUSER, else the
    // OS user's name: the cluster knows only its own roles, so the test and
    // the programs it starts reach it as the superuser unless told otherwise.
    if (qEnvironmentVariableIsEmpty("PGUSER"))
        qputenv("PGUSER", server.m_user.toLocal8Bit());
    return server;
}

QString TestServer::skipReason() {
    for (const char* name : {"RIO_TEST_PGHOST", "RIO_TEST_PGDATA", "RIO_TEST_PGBIN",
                             "RIO_TEST_PGOWNER", "RIO_TEST_PGUSER"}) {
        if (variable(name).isEmpty())
            return QStringLiteral("no PostgreSQL test server: %1 is not set (scripts/test starts "
                                  "one; it could not, or this test runs outside it)")
                .arg(QLatin1String(name));
    }
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        return QStringLiteral("no PostgreSQL test server: Qt's QPSQL driver is not installed "
                              "(Debian: libqt6sql6-psql)");
    const QString socket = socketPath(variable("RIO_TEST_PGHOST"));
    if (!QFileInfo::exists(socket))
        return QStringLiteral("no PostgreSQL test server: nothing listens at %1").arg(socket);
    return {};
}

QString TestServer::newDatabase(const QString& prefix) const {
    QString name = prefix.toLower();
    name.replace(QRegularExpression(QStringLiteral("[^a-z0-9_]")), QStringLiteral("_"));
    // The process id keeps two test processes apart; the count, one
    // process's databases; the random part, a cluster kept between runs.
    name = QStringLiteral("%1_%2_%3_%4")
               .arg(name.left(kPrefixLength))
               .arg(QCoreApplication::applicationPid())
               .arg(++g_databases)
               .arg(QRandomGenerator::global()->generate() & 0xffffff, 6, 16, QLatin1Char('0'));
    if (!execute(QStringLiteral("postgres"),
                 QStringLiteral("CREATE DATABASE \"%1\" ENCODING 'UTF8'").arg(name)))
        return {};
    return name;
}

QString TestServer::url(const QString& db, const QString& user) const {
    return QStringLiteral("postgresql://%1/%2?host=%3")
        .arg(user.isEmpty() ? QString() : user + QLatin1Char('@'), db, m_host);
}

bool TestServer::pgCtl(const QStringList& args) const {
    QString program = QDir(m_bin).filePath(QStringLiteral("pg_ctl"));
    QStringList arguments = QStringList{QStringLiteral("-D"), m_data} + args;
    // The cluster's files belong to its owner; root reaches them as that user
    // (initdb refused root), anyone else is that user already.
    if (::geteuid() == 0 && m_owner != QStringLiteral("root")) {
        arguments =
            QStringList{QStringLiteral("-u"), m_owner, QStringLiteral("--"), program} + arguments;
        program = QStringLiteral("runuser");
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(kPgCtlTimeoutMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        qWarning("pg_ctl %s failed: %s", qPrintable(args.join(QLatin1Char(' '))),
                 qPrintable(QString::fromLocal8Bit(process.readAll()).trimmed()));
        return false;
    }
    return true;
}

bool TestServer::stop() const {
    return pgCtl({QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"),
                  QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("stop")});
}

bool TestServer::start() const {
    // A killed postmaster leaves its lock files. PostgreSQL clears them when
    // the process they name is gone, but takes one that exited and was never
    // reaped (a container whose first process reaps nothing) for a live
    // server, and refuses to start.
    const QString lock = QDir(m_data).filePath(QStringLiteral("postmaster.pid"));
    if (const pid_t pid = postmasterOf(lock); pid > 0 && gone(pid)) {
        QFile::remove(lock);
        QFile::remove(socketPath(m_host) + QStringLiteral(".lock"));
    }
    // The log beside the cluster's files, where start_test_server keeps it.
    const QString log =
        QDir(QFileInfo(m_data).absolutePath()).filePath(QStringLiteral("server.log"));
    return pgCtl({QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"),
                  QStringLiteral("-l"), log, QStringLiteral("start")});
}

bool TestServer::killHard() const {
    const pid_t postmaster = postmasterOf(QDir(m_data).filePath(QStringLiteral("postmaster.pid")));
    if (postmaster <= 0 || gone(postmaster)) {
        qWarning("no server to kill: postmaster.pid names no running process");
        return false;
    }
    // Stopped first, so that it starts no process while its children are
    // listed; the backends die with it, as they would with its machine.
    ::kill(postmaster, SIGSTOP);
    std::vector<pid_t> processes = childrenOf(postmaster);
    processes.push_back(postmaster);
    for (const pid_t pid : processes)
        ::kill(pid, SIGKILL);
    const bool allGone = QTest::qWaitFor(
        [&] {
            for (const pid_t pid : processes) {
                if (!gone(pid))
                    return false;
            }
            return true;
        },
        kGoneTimeoutMs);
    if (!allGone)
        qWarning("the killed server's processes are still there after %d ms", kGoneTimeoutMs);
    return allGone;
}

qlonglong TestServer::count(const QString& db, const QString& sql) const {
    qlonglong result = -1;
    const bool done = runSql(m_host, m_user, db, sql, [&](QSqlQuery& query) {
        if (query.next())
            result = query.value(0).toLongLong();
    });
    return done ? result : -1;
}

bool TestServer::execute(const QString& db, const QString& sql) const {
    return runSql(m_host, m_user, db, sql, [](QSqlQuery&) {});
}

} // namespace rio::test
