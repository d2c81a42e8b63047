// What the system says about a serial device; see device_facts.h.
#include "serial/device_facts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#ifndef Q_OS_WIN
#include <QSerialPortInfo>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace rio::serial {

namespace {

// A command line is shown to this many characters.
constexpr qsizetype kCommandShown = 60;

[[nodiscard]] QString canonical(const QString& path) {
    return QFileInfo(path).canonicalFilePath();
}

// Every file read here is small: a pid, a command line, a number.
constexpr qint64 kReadCap = 4096;

#ifdef Q_OS_UNIX

[[nodiscard]] bool isRegularFile(const QByteArray& path) {
    struct stat status {};
    return ::lstat(path.constData(), &status) == 0 && S_ISREG(status.st_mode);
}

// The start of a regular file, kReadCap bytes at most. Anything else (a FIFO
// or a device put where a lock file belongs, a link) is not opened: opening a
// FIFO with no writer, or reading one, would wait for ever. Non-blocking and
// checked again once open, in case the name was swapped in between.
[[nodiscard]] QByteArray readSmallFile(const QString& path) {
    const QByteArray local = path.toLocal8Bit();
    if (!isRegularFile(local)) {
        return {};
    }
    const int fd = ::open(local.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    QByteArray text;
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        text.resize(kReadCap);
        qsizetype got = 0;
        while (got < text.size()) {
            const ssize_t n = ::read(fd, text.data() + got, std::size_t(text.size() - got));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            got += n;
        }
        text.resize(got);
    }
    ::close(fd);
    return text;
}

#else

[[nodiscard]] QByteArray readSmallFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.read(kReadCap);
}

#endif

#ifdef Q_OS_UNIX

// The process ids under /proc, in ascending order.
[[nodiscard]] std::vector<long> processIds() {
    std::vector<long> pids;
    const QStringList names = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& name : names) {
        bool ok = false;
        const long pid = name.toLong(&ok);
        if (ok && pid > 0) {
            pids.push_back(pid);
        }
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

// The process's command line with the program's own name rather than its
// path, shortened; its name alone when the command line cannot be read.
[[nodiscard]] std::string commandOf(long pid) {
    QList<QByteArray> words =
        readSmallFile(QStringLiteral("/proc/%1/cmdline").arg(pid)).split('\0');
    if (!words.isEmpty()) {
        words.first() = words.first().mid(words.first().lastIndexOf('/') + 1);
    }
    QString command = QString::fromLocal8Bit(words.join(' ')).simplified();
    if (command.isEmpty()) {
        command = QString::fromLocal8Bit(readSmallFile(QStringLiteral("/proc/%1/comm").arg(pid)))
                      .simplified();
    }
    if (command.size() > kCommandShown) {
        command = command.left(kCommandShown - 3) + QStringLiteral("...");
    }
    // Anyone may name a process as they like: a control character would drive
    // the technician's terminal, so it is shown as its code, "<1B>".
    QString shown;
    for (const QChar c : command) {
        if (c.category() == QChar::Other_Control)
            shown += QStringLiteral("<%1>").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        else
            shown += c;
    }
    return shown.toStdString();
}

[[nodiscard]] bool processAlive(long pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// How a process has a device open.
struct Opened {
    bool device = false; // the device itself
    bool farEnd = false; // the master side of the device, a pseudo-terminal
};

// Looks through the process's open files for the device and, when the device
// is a pseudo-terminal (ptyIndex 0 and up), its master side: every master is
// /dev/ptmx, and its fdinfo names the terminal it serves.
[[nodiscard]] Opened opened(long pid, const QByteArray& device, int ptyIndex) {
    Opened found;
    const QByteArray dir = QStringLiteral("/proc/%1/fd").arg(pid).toLocal8Bit();
    DIR* fds = ::opendir(dir.constData());
    if (!fds) {
        return found;
    }
    const QByteArray servesIndex = "tty-index:\t" + QByteArray::number(ptyIndex) + '\n';
    while (const dirent* entry = ::readdir(fds)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        const QByteArray link = dir + '/' + entry->d_name;
        char target[4096];
        const ssize_t n = ::readlink(link.constData(), target, sizeof target);
        if (n <= 0) {
            continue;
        }
        const QByteArray opens(target, n);
        if (opens == device) {
            found.device = true;
        } else if (ptyIndex >= 0 && (opens == "/dev/ptmx" || opens == "/dev/pts/ptmx")) {
            const QByteArray info = readSmallFile(QStringLiteral("/proc/%1/fdinfo/%2")
                                                      .arg(pid)
                                                      .arg(QString::fromLatin1(entry->d_name)));
            found.farEnd = found.farEnd || info.contains(servesIndex);
        }
    }
    ::closedir(fds);
    return found;
}

// The number of a pseudo-terminal's slave side, /dev/pts/N; -1 for any other
// device.
[[nodiscard]] int ptyIndex(const QString& device) {
    if (!device.startsWith(QLatin1String("/dev/pts/"))) {
        return -1;
    }
    bool ok = false;
    const int index = device.mid(9).toInt(&ok);
    return ok ? index : -1;
}

// Who has the device open besides this process: the first other program,
// and for a pseudo-terminal the program at its far end, which has the
// device open too when it keeps the line from hanging up but is the other
// side of the line, not a second user of it.
struct Users {
    std::optional<Holder> holder;
    std::optional<Holder> farEnd;
};

[[nodiscard]] Users users(const QString& path) {
    Users result;
    const QString device = canonical(path);
    if (device.isEmpty()) {
        return result;
    }
    const long self = ::getpid();
    const QByteArray deviceBytes = device.toLocal8Bit();
    const int index = ptyIndex(device);
    for (const long pid : processIds()) {
        if (pid == self) {
            continue;
        }
        const Opened found = opened(pid, deviceBytes, index);
        if (found.farEnd && !result.farEnd) {
            result.farEnd = Holder{pid, commandOf(pid)};
        } else if (found.device && !found.farEnd && !result.holder) {
            result.holder = Holder{pid, commandOf(pid)};
        }
        if (result.holder && (index < 0 || result.farEnd)) {
            break;
        }
    }
    return result;
}

// The pid a lock file names: ASCII digits on its first line, as UUCP-style
// locks and Qt's both write it.
[[nodiscard]] std::optional<long> lockFilePid(const QString& path) {
    const QByteArray text = readSmallFile(path);
    bool ok = false;
    const long pid = text.split('\n').value(0).trimmed().toLong(&ok);
    return ok && pid > 0 ? std::optional(pid) : std::nullopt;
}

#endif

} // namespace

std::string systemText(int error) {
    return std::strerror(error);
}

#ifdef Q_OS_UNIX

std::optional<GroupFacts> deviceGroup(const QString& path) {
    struct stat status {};
    if (::stat(path.toLocal8Bit().constData(), &status) != 0) {
        return std::nullopt;
    }
    GroupFacts facts;
    facts.grantsReadWrite = (status.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    std::vector<std::string> members;
    if (const group* entry = ::getgrgid(status.st_gid)) {
        facts.name = entry->gr_name;
        for (char** member = entry->gr_mem; member && *member; ++member) {
            members.emplace_back(*member);
        }
    } else {
        facts.name = std::to_string(status.st_gid);
    }
    if (const passwd* user = ::getpwuid(::getuid())) {
        facts.userListed =
            user->pw_gid == status.st_gid ||
            std::find(members.begin(), members.end(), user->pw_name) != members.end();
    }
    std::vector<gid_t> groups(std::size_t(std::max(::getgroups(0, nullptr), 0)));
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    groups.resize(std::size_t(std::max(count, 0)));
    facts.activeHere = ::getegid() == status.st_gid ||
                       std::find(groups.begin(), groups.end(), status.st_gid) != groups.end();
    return facts;
}

std::optional<Holder> deviceHolder(const QString& path) {
    if (auto holder = users(path).holder) {
        return holder;
    }
    const long self = ::getpid();
    for (const LockFile& lock : lockFiles(path)) {
        const auto pid = lock.regular ? lockFilePid(lock.path) : std::nullopt;
        if (pid && *pid != self && processAlive(*pid)) {
            return Holder{*pid, commandOf(*pid)};
        }
    }
    return std::nullopt;
}

std::vector<LockFile> lockFiles(const QString& path) {
    std::vector<LockFile> found;
    const QString device = canonical(path);
    if (device.isEmpty()) {
        return found;
    }
    QString name = device;
    if (name.startsWith(QLatin1String("/dev/"))) {
        name.remove(0, 5);
    }
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const QString& dir : {QStringLiteral("/var/lock"), QDir::tempPath()}) {
        const QString lock = dir + QStringLiteral("/LCK..") + name;
        struct stat status {};
        if (::lstat(lock.toLocal8Bit().constData(), &status) != 0) {
            continue;
        }
        const auto kind = [&status] {
            switch (status.st_mode & S_IFMT) {
            case S_IFREG:
                return "a regular file";
            case S_IFIFO:
                return "a FIFO";
            case S_IFDIR:
                return "a directory";
            case S_IFLNK:
                return "a symbolic link";
            case S_IFCHR:
            case S_IFBLK:
                return "a device";
            case S_IFSOCK:
                return "a socket";
            default:
                return "not a file";
            }
        }();
        found.push_back(LockFile{lock, QString::fromLatin1(kind), S_ISREG(status.st_mode)});
    }
    return found;
}

std::optional<Holder> pseudoTerminalFarEnd(const QString& path) {
    return users(path).farEnd;
}

bool modemManagerRunning() {
    for (const long pid : processIds()) {
        if (readSmallFile(QStringLiteral("/proc/%1/comm").arg(pid)).trimmed() == "ModemManager") {
            return true;
        }
    }
    return false;
}

#else

std::optional<GroupFacts> deviceGroup(const QString&) {
    return std::nullopt;
}

std::optional<Holder> deviceHolder(const QString&) {
    return std::nullopt;
}

std::vector<LockFile> lockFiles(const QString&) {
    return {};
}

std::optional<Holder> pseudoTerminalFarEnd(const QString&) {
    return std::nullopt;
}

bool modemManagerRunning() {
    return false;
}

#endif

std::optional<LatencyTimer> latencyTimer(const QString& path) {
    const QString name = QFileInfo(canonical(path)).fileName();
    if (name.isEmpty()) {
        return std::nullopt;
    }
    // The FTDI driver puts it on the USB serial port's own device; look one
    // level up as well.
    const QString device = QStringLiteral("/sys/class/tty/%1/device").arg(name);
    for (const QString& candidate : {device + QStringLiteral("/latency_timer"),
                                     device + QStringLiteral("/../latency_timer")}) {
        const QByteArray text = readSmallFile(candidate);
        bool ok = false;
        const int ms = text.trimmed().toInt(&ok);
        if (ok) {
            return LatencyTimer{QFileInfo(candidate).canonicalFilePath(), ms};
        }
    }
    return std::nullopt;
}

bool isUsbDevice(const QString& path) {
    const QString name = QFileInfo(canonical(path)).fileName();
    return !name.isEmpty() && canonical(QStringLiteral("/sys/class/tty/%1/device").arg(name))
                                  .contains(QLatin1String("/usb"));
}

QString stableName(const QString& path, const QString& byIdDir) {
    const QString device = canonical(path);
    if (device.isEmpty()) {
        return {};
    }
    const QFileInfoList entries = QDir(byIdDir).entryInfoList(
        QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.canonicalFilePath() == device) {
            return entry.absoluteFilePath();
        }
    }
    return {};
}

PortDetails portDetails(const QString& path) {
    PortDetails details;
    details.stableName = stableName(path);
#ifdef Q_OS_WIN
    // A COM port carries no per-user permissions; whether another program has
    // it shows only when it is opened.
    details.userCanOpen = true;
#else
    const QString device = canonical(path);
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (info.systemLocation() != device && info.systemLocation() != path) {
            continue;
        }
        if (info.hasVendorIdentifier() && info.hasProductIdentifier()) {
            details.vendorProduct = QStringLiteral("%1:%2")
                                        .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                                        .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
        }
        details.serialNumber = info.serialNumber();
        break;
    }
    details.userCanOpen = ::access(path.toLocal8Bit().constData(), R_OK | W_OK) == 0;
#endif
    return details;
}

} // namespace rio::serial
