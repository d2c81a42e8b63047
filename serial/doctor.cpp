// Checks of a serial line; see doctor.h.
#include "serial/doctor.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>

#ifdef Q_OS_WIN
#include <windows.h>
#endif
#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace rio::serial {

namespace {

// A latency timer at or below this does not blur reply timings.
constexpr int kGoodLatencyMs = 1;

[[nodiscard]] QString errorText(int error) {
    return QString::fromStdString(systemText(error));
}

} // namespace

#ifdef Q_OS_WIN

DoctorFacts gatherDoctorFacts(const QString& path) {
    DoctorFacts facts;
    facts.devicePath = path;
    facts.resolvedPath = path;
    facts.comPort = true;
    const QString device = path.startsWith(QLatin1String("\\\\.\\")) ? path : "\\\\.\\" + path;
    const HANDLE handle = CreateFileW(device.toStdWString().c_str(), GENERIC_READ | GENERIC_WRITE,
                                      0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            facts.comMissing = true;
        } else if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
            facts.comHeld = true;
        } else {
            wchar_t text[512] = {};
            FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           error, 0, text, 512, nullptr);
            facts.comError = QString::fromWCharArray(text).simplified();
            if (facts.comError.isEmpty())
                facts.comError = QStringLiteral("error %1").arg(error);
        }
        return facts;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    facts.takesLineSettings = GetCommState(handle, &dcb) != 0;
    CloseHandle(handle);
    return facts;
}

#else

DoctorFacts gatherDoctorFacts(const QString& path) {
    DoctorFacts facts;
    facts.devicePath = path;
    const QString resolved = QFileInfo(path).canonicalFilePath();
    facts.resolvedPath = resolved.isEmpty() ? path : resolved;
#ifdef Q_OS_UNIX
    const QByteArray local = path.toLocal8Bit();
    struct stat status {};
    if (::stat(local.constData(), &status) != 0) {
        facts.missingError = errno;
        return facts;
    }
    facts.characterDevice = S_ISCHR(status.st_mode);
    facts.root = ::geteuid() == 0;
    facts.readWrite = ::access(local.constData(), R_OK | W_OK) == 0;
    facts.group = deviceGroup(path);
    if (facts.characterDevice) {
        // Non-blocking, so a modem line that waits for carrier does not hold
        // the check; no controlling terminal taken.
        const int fd = ::open(local.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            facts.openError = errno;
        } else {
            termios settings{};
            facts.takesLineSettings = ::tcgetattr(fd, &settings) == 0;
            facts.lockedElsewhere = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
            ::close(fd);
        }
    }
#endif
    facts.holder = deviceHolder(path);
    facts.farEnd = pseudoTerminalFarEnd(path);
    for (const LockFile& lock : lockFiles(path)) {
        if (!lock.regular) {
            facts.oddLockFiles.push_back(lock);
        }
    }
    facts.modemManager = modemManagerRunning();
    facts.latency = latencyTimer(path);
    facts.usb = isUsbDevice(path);
    facts.stableName = stableName(path);
    return facts;
}

#endif

namespace {

[[nodiscard]] std::vector<DoctorLine> comPortLines(const DoctorFacts& f) {
    std::vector<DoctorLine> lines;
    const auto add = [&lines](Verdict verdict, const char* check, const QString& text) {
        lines.push_back({verdict, QString::fromLatin1(check), text});
    };
    if (f.comMissing) {
        add(Verdict::Fail, "device",
            QStringLiteral("%1: no such port (unplugged, or under another number: riopanel "
                           "--list-ports shows what is there)")
                .arg(f.devicePath));
        return lines;
    }
    add(Verdict::Ok, "device", QStringLiteral("%1 is there").arg(f.devicePath));
    if (f.comHeld) {
        add(Verdict::Fail, "in use",
            QStringLiteral("another program has %1 open; two programs on one line spoil each "
                           "other's exchanges: close it (a terminal program, another riopanel)")
                .arg(f.devicePath));
        return lines;
    }
    if (!f.comError.isEmpty()) {
        add(Verdict::Fail, "opens",
            QStringLiteral("cannot open %1: %2").arg(f.devicePath, f.comError));
        return lines;
    }
    if (f.takesLineSettings) {
        add(Verdict::Ok, "opens", QStringLiteral("it opens and takes line settings"));
    } else {
        add(Verdict::Fail, "opens",
            QStringLiteral("it opens but takes no line settings, so not a serial port"));
    }
    add(Verdict::Ok, "in use", QStringLiteral("no other program has the port open"));
    return lines;
}

} // namespace

std::vector<DoctorLine> doctorLines(const DoctorFacts& f) {
    if (f.comPort) {
        return comPortLines(f);
    }
    std::vector<DoctorLine> lines;
    const auto add = [&lines](Verdict verdict, const char* check, const QString& text) {
        lines.push_back({verdict, QString::fromLatin1(check), text});
    };

    if (f.missingError != 0) {
        add(Verdict::Fail, "device",
            QStringLiteral("%1: %2 (unplugged, or under another name: riopanel --list-ports "
                           "shows what is there)")
                .arg(f.devicePath, errorText(f.missingError)));
        return lines;
    }
    add(Verdict::Ok, "device",
        f.resolvedPath == f.devicePath
            ? QStringLiteral("%1 is there").arg(f.devicePath)
            : QStringLiteral("%1 is there (it leads to %2)").arg(f.devicePath, f.resolvedPath));

    if (!f.characterDevice) {
        add(Verdict::Fail, "terminal",
            QStringLiteral("%1 is not a character device, so not a serial port").arg(f.devicePath));
    } else if (f.openError == 0 && f.takesLineSettings) {
        add(Verdict::Ok, "terminal", QStringLiteral("a terminal device; it takes line settings"));
    } else if (f.openError == 0) {
        add(Verdict::Fail, "terminal",
            QStringLiteral("a character device but not a terminal: it takes no line settings, "
                           "so not a serial port"));
    } else {
        add(Verdict::Warn, "terminal",
            QStringLiteral("a character device; could not open it to look further (%1)")
                .arg(errorText(f.openError)));
    }

    const QString groupName = f.group ? QString::fromStdString(f.group->name) : QString();
    const bool groupGrants = f.group && f.group->grantsReadWrite;
    if (f.root) {
        add(Verdict::Ok, "access", QStringLiteral("read and write (running as root)"));
    } else if (f.readWrite) {
        add(Verdict::Ok, "access",
            groupGrants && f.group->activeHere
                ? QStringLiteral("read and write, granted by group %1").arg(groupName)
                : QStringLiteral("read and write"));
    } else {
        add(Verdict::Fail, "access",
            groupGrants
                ? QStringLiteral("no read and write access; group %1 grants it").arg(groupName)
                : QStringLiteral("no read and write access, and the device's group does "
                                 "not grant it either; ask whoever set up the machine"));
    }

    if (f.root) {
        add(Verdict::Ok, "group", QStringLiteral("no group needed as root"));
    } else if (groupGrants) {
        const QString join =
            QStringLiteral("sudo usermod -aG %1 $USER, then log out and in").arg(groupName);
        if (f.group->userListed && f.group->activeHere) {
            add(Verdict::Ok, "group", QStringLiteral("you are in group %1").arg(groupName));
        } else if (f.group->activeHere) {
            // Taken with newgrp, or left in the database since this login.
            add(Verdict::Warn, "group",
                QStringLiteral("this session has group %1, but the group database does not list "
                               "you, so the next login will not; %2")
                    .arg(groupName, join));
        } else if (f.group->userListed) {
            add(f.readWrite ? Verdict::Warn : Verdict::Fail, "group",
                QStringLiteral("you are in group %1, but the membership is not active until the "
                               "next login; log out and in")
                    .arg(groupName));
        } else if (f.readWrite) {
            add(Verdict::Ok, "group",
                QStringLiteral("not in group %1; not needed, access comes otherwise")
                    .arg(groupName));
        } else {
            add(Verdict::Fail, "group",
                QStringLiteral("you are not in group %1; %2").arg(groupName, join));
        }
    }

    if (f.holder) {
        add(Verdict::Fail, "in use",
            QStringLiteral("pid %1 (%2) has the device open; two programs on one line spoil "
                           "each other's exchanges")
                .arg(f.holder->pid)
                .arg(QString::fromStdString(f.holder->command)));
    } else if (f.lockedElsewhere || f.openError == EBUSY) {
        add(Verdict::Fail, "in use",
            QStringLiteral("the device is held for exclusive use by a program this user cannot "
                           "see, or by one that ended without releasing it"));
    } else if (f.farEnd) {
        add(Verdict::Ok, "in use",
            QStringLiteral("no other program has the device open; pid %1 (%2) holds the far end "
                           "of this pseudo-terminal")
                .arg(f.farEnd->pid)
                .arg(QString::fromStdString(f.farEnd->command)));
    } else {
        add(Verdict::Ok, "in use", QStringLiteral("no other program has the device open"));
    }

    for (const LockFile& lock : f.oddLockFiles) {
        // The panel's port opens all the same; other programs may not.
        add(Verdict::Warn, "lock file",
            QStringLiteral("%1 is not a regular file but %2, so it was not read; a program that "
                           "honours lock files may refuse the device or wait on it for ever: "
                           "remove it")
                .arg(lock.path, lock.kind));
    }

    if (f.modemManager) {
        add(Verdict::Warn, "ModemManager",
            QStringLiteral("running; it probes new USB serial adapters with modem commands, which "
                           "reach the boards' line: sudo systemctl stop ModemManager"));
    } else {
        add(Verdict::Ok, "ModemManager", QStringLiteral("not running"));
    }

    if (f.latency) {
        if (f.latency->milliseconds <= kGoodLatencyMs) {
            add(Verdict::Ok, "latency",
                QStringLiteral("latency_timer %1 ms").arg(f.latency->milliseconds));
        } else {
            add(Verdict::Warn, "latency",
                QStringLiteral("latency_timer %1 ms: the adapter holds received bytes that long, "
                               "which blurs reply timings; set 1: echo 1 | sudo tee %2")
                    .arg(f.latency->milliseconds)
                    .arg(f.latency->sysfsPath));
        }
    }

    if (!f.stableName.isEmpty()) {
        add(Verdict::Ok, "stable name",
            QStringLiteral("%1 (use it with --port-device N=%1)").arg(f.stableName));
    } else if (f.usb) {
        add(Verdict::Warn, "stable name",
            QStringLiteral("none under /dev/serial/by-id, so the device's name may change with "
                           "the order adapters are plugged in"));
    } else {
        add(Verdict::Ok, "stable name",
            QStringLiteral("none needed: not a USB adapter, its name does not move"));
    }
    return lines;
}

QString formatDoctorLine(const DoctorLine& line) {
    const char* word = line.verdict == Verdict::Ok     ? "ok"
                       : line.verdict == Verdict::Warn ? "warn"
                                                       : "fail";
    return QStringLiteral("%1  %2: %3")
        .arg(QString::fromLatin1(word).leftJustified(4), line.check, line.text);
}

int doctorExitCode(const std::vector<DoctorLine>& lines) {
    return std::any_of(lines.begin(), lines.end(),
                       [](const DoctorLine& line) { return line.verdict == Verdict::Fail; })
               ? 1
               : 0;
}

} // namespace rio::serial
