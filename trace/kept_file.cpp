#include "trace/kept_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#endif

namespace rio::trace {

namespace {

#ifdef Q_OS_WIN
// Windows' C runtime: bytes as they are (no newline translation), and no
// child process inherits the descriptor.
constexpr int kOpenFlags = _O_BINARY | _O_NOINHERIT;

int syncFile(int fd) {
    return ::_commit(fd);
}

int makeFolder(const char* name) {
    return ::mkdir(name);
}

// rename() of the C runtime refuses to replace a file.
int renameOver(const QString& from, const QString& to) {
    if (MoveFileExW(reinterpret_cast<const wchar_t*>(from.utf16()),
                    reinterpret_cast<const wchar_t*>(to.utf16()),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return -1;
}
#else
constexpr int kOpenFlags = O_CLOEXEC;

int syncFile(int fd) {
    return ::fsync(fd);
}

int makeFolder(const char* name) {
    return ::mkdir(name, 0777);
}

int renameOver(const QString& from, const QString& to) {
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData());
}
#endif

QString failure(const char* what, const QString& path, int error) {
    return QStringLiteral("cannot %1 %2: %3").arg(QLatin1String(what), path, errnoText(error));
}

// EINTR: a signal came before the call did anything, so it is made again.
int openRetrying(const QString& path, int flags, mode_t mode = 0) {
    const QByteArray name = QFile::encodeName(path);
    for (;;) {
        const int fd = ::open(name.constData(), flags, mode);
        if (fd >= 0 || errno != EINTR)
            return fd;
    }
}

// errno of a failed fsync, 0 once the disk has the file.
int syncRetrying(int fd) {
    for (;;) {
        if (syncFile(fd) == 0)
            return 0;
        if (errno != EINTR)
            return errno;
    }
}

// Linux releases the descriptor even when close() reports EINTR, so it is
// never closed twice; what it held was synced before.
int closeChecked(int fd) {
    if (::close(fd) == 0 || errno == EINTR)
        return 0;
    return errno;
}

// errno of the write that failed, 0 once the system took every byte.
int writeAll(int fd, QByteArrayView bytes, WriteCall write) {
    const char* data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (written == 0) // took nothing and said nothing: not a file to keep
            return EIO;
        data += written;
        left -= written;
    }
    return 0;
}

FileFailure writeNew(const QString& path, QByteArrayView bytes, WriteCall write,
                     std::optional<mode_t> mode) {
    const int fd = openRetrying(path, O_WRONLY | O_CREAT | O_EXCL | kOpenFlags, 0666);
    if (fd < 0)
        return failure("create", path, errno);
    const char* step = "write";
    int error = writeAll(fd, bytes, write);
#ifndef Q_OS_WIN
    if (error == 0 && mode && ::fchmod(fd, *mode) != 0) {
        error = errno;
        step = "set the permissions of";
    }
#else
    static_cast<void>(mode); // Windows files carry no POSIX permissions
#endif
    if (error == 0 && (error = syncRetrying(fd)) != 0)
        step = "sync";
    if (error == 0) {
        if ((error = closeChecked(fd)) == 0)
            return std::nullopt;
        step = "close";
    } else {
        ::close(fd);
    }
    ::unlink(QFile::encodeName(path).constData());
    return failure(step, path, error);
}

} // namespace

QString errnoText(int error) {
#ifdef Q_OS_WIN
    return QString::fromLocal8Bit(std::strerror(error));
#else
    return qt_error_string(error);
#endif
}

ssize_t systemWrite(int fd, const void* data, size_t size) {
#ifdef Q_OS_WIN
    return ::_write(fd, data, static_cast<unsigned>(std::min<size_t>(size, 1U << 30)));
#else
    return ::write(fd, data, size);
#endif
}

FileFailure writeNewFile(const QString& path, QByteArrayView bytes, WriteCall write) {
    return writeNew(path, bytes, write, std::nullopt);
}

FileFailure makeFolders(const QString& path) {
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QByteArray name = QFile::encodeName(absolute);
    struct stat status {};
    if (::stat(name.constData(), &status) == 0) {
        if (S_ISDIR(status.st_mode))
            return std::nullopt;
        return QStringLiteral("%1 is not a folder").arg(path);
    }
    if (errno != ENOENT)
        return failure("look at", path, errno);
    const QString parent = QFileInfo(absolute).path();
    if (parent != absolute)
        if (FileFailure failed = makeFolders(parent))
            return failed;
    if (makeFolder(name.constData()) != 0) {
        const int error = errno;
        // Made meanwhile by someone else: as good as made here.
        if (error == EEXIST && ::stat(name.constData(), &status) == 0 && S_ISDIR(status.st_mode))
            return std::nullopt;
        return failure("make the folder", path, error);
    }
    return syncFolder(parent);
}

FileFailure syncFolder(const QString& path) {
#ifdef Q_OS_WIN
    static_cast<void>(path);
    return std::nullopt;
#else
    const int fd = openRetrying(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return failure("open the folder", path, errno);
    const int error = syncRetrying(fd);
    ::close(fd);
    // EINVAL: the file system keeps folders its own way and offers no sync
    // for them; the files' own bytes were synced.
    if (error != 0 && error != EINVAL)
        return failure("sync the folder", path, error);
    return std::nullopt;
#endif
}

FileFailure replaceFile(const QString& path, QByteArrayView bytes, WriteCall write) {
    const QFileInfo given(path);
    QString target = given.absoluteFilePath();
    if (given.isSymLink())
        target = given.exists() ? given.canonicalFilePath() : given.symLinkTarget();
    std::optional<mode_t> mode;
    struct stat status {};
    if (::stat(QFile::encodeName(target).constData(), &status) == 0) {
        if (!S_ISREG(status.st_mode))
            return QStringLiteral("%1 is not a regular file").arg(path);
        mode = status.st_mode & 07777;
    } else if (errno != ENOENT) {
        return failure("look at", path, errno);
    }
    const QFileInfo where(target);
    const QString folder = where.absolutePath();
    const QString temporary = QDir(folder).filePath(temporaryNameFor(where.fileName(), "saving"));
    if (FileFailure failed = writeNew(temporary, bytes, write, mode))
        return failed;
    if (renameOver(temporary, target) != 0) {
        const int error = errno;
        ::unlink(QFile::encodeName(temporary).constData());
        return QStringLiteral("cannot rename %1 to %2: %3")
            .arg(temporary, target, errnoText(error));
    }
    return syncFolder(folder);
}

QString temporaryNameFor(const QString& name, const char* tag) {
    // Cut so that the name stays within the 255 bytes a file name may take,
    // at up to three bytes a character.
    constexpr qsizetype kKept = 60;
    return QStringLiteral(".%1.%2-%3")
        .arg(name.left(kKept), QLatin1String(tag),
             QString::number(QRandomGenerator::global()->generate64(), 36));
}

} // namespace rio::trace
