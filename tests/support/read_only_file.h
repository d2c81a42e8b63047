#pragma once
// A file made read-only for as long as the guard lives, for tests of a
// results store that cannot be written: by its mode, or, for root, whom modes
// do not stop, by a read-only bind mount of it. Header-only.

#include <QProcess>
#include <QString>
#include <QStringList>

#include <sys/stat.h>
#include <unistd.h>

namespace rio::test {

// Runs a program to its end; whether it succeeded.
inline bool succeeds(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    return process.waitForFinished(10'000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// The file made read-only for as long as this lives: by its mode, or, for
// root, whom modes do not stop, by a read-only bind mount of it.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const QString& path) : m_path(path) {
        if (::geteuid() != 0) {
            ready = ::chmod(path.toLocal8Bit().constData(), 0444) == 0;
            return;
        }
        m_mounted = succeeds(QStringLiteral("mount"), {"--bind", path, path});
        ready =
            m_mounted && succeeds(QStringLiteral("mount"), {"-o", "remount,bind,ro", path, path});
    }
    ~ReadOnlyFile() {
        if (m_mounted && !succeeds(QStringLiteral("umount"), {m_path}))
            qWarning("could not unmount the read-only bind mount on %s", qPrintable(m_path));
    }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool ready = false;

private:
    QString m_path;
    bool m_mounted = false;
};

} // namespace rio::test
