// Why a port will not open; see open_failure.h.
#include "serial/open_failure.h"

#include <cerrno>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace rio::serial {

OpenCause causeOfErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return OpenCause::NoDevice;
    case EACCES:
    case EPERM:
        return OpenCause::PermissionDenied;
    case EBUSY:
    case EWOULDBLOCK:
        return OpenCause::InUse;
    default:
        return OpenCause::Other;
    }
}

std::string openFailureReason(const OpenFacts& facts) {
    std::string why;
    switch (facts.cause) {
    case OpenCause::NoDevice:
        why = "no such device (unplugged, or under another name: riopanel --list-ports shows "
              "what is there)";
        break;
    case OpenCause::PermissionDenied:
        why = "permission denied";
        if (facts.group.empty()) {
            break;
        }
        if (facts.groupActive) {
            why += " although you are in its group " + facts.group +
                   "; the device does not let that group read and write it";
        } else if (!facts.userListed) {
            why += ": the device belongs to group " + facts.group +
                   " and you are not in it; sudo usermod -aG " + facts.group +
                   " $USER, then log out and in";
        } else {
            why += ": you are in group " + facts.group +
                   ", but the membership is not active until the next login; log out and in";
        }
        break;
    case OpenCause::InUse:
        why = "in use by another program";
        if (facts.holder) {
            why += ": pid " + std::to_string(facts.holder->pid);
            if (!facts.holder->command.empty()) {
                why += " (" + facts.holder->command + ")";
            }
        } else {
#ifndef Q_OS_WIN
            // Only the user's own processes can be looked into, and a program
            // that ended without closing the device leaves its exclusive use
            // set for as long as the terminal stays open elsewhere. (Windows
            // does not say which program has a COM port open.)
            why += ", one this user cannot see or one that ended without releasing the device";
#endif
        }
        break;
    case OpenCause::SpeedRefused:
        why = "the device refuses speed " + std::to_string(facts.speed) + " bit/s";
        if (!facts.systemText.empty()) {
            why += " (" + facts.systemText + ")";
        }
        break;
    case OpenCause::Other:
        why =
            facts.systemText.empty() ? std::string("the system gives no reason") : facts.systemText;
        break;
    }
    std::string line = "cannot open " + facts.devicePath + ": " + why;
    // One line, whatever the system's words held.
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return line;
}

OpenFacts probeOpenFailure(const QString& path, OpenCause seen, std::int32_t speed,
                           const std::string& seenText) {
    OpenFacts facts;
    facts.cause = seen;
    facts.devicePath = path.toStdString();
    facts.speed = speed;
    facts.systemText = seenText;
#ifdef Q_OS_UNIX
    const QByteArray local = path.toLocal8Bit();
    struct stat status {};
    if (::stat(local.constData(), &status) != 0) {
        const int error = errno;
        facts.cause =
            causeOfErrno(error) == OpenCause::Other ? OpenCause::NoDevice : causeOfErrno(error);
        facts.systemText = systemText(error);
        return facts;
    }
    // Qt reports a device held exclusively, or locked by its lock file, as a
    // permission failure too; only the device's own permissions can tell.
    if (facts.cause == OpenCause::PermissionDenied &&
        ::access(local.constData(), R_OK | W_OK) == 0) {
        facts.cause = OpenCause::InUse;
    }
#endif
    if (facts.cause == OpenCause::PermissionDenied) {
        if (const auto group = deviceGroup(path)) {
            facts.group = group->name;
            facts.userListed = group->userListed;
            facts.groupActive = group->activeHere;
        }
    }
    if (facts.cause == OpenCause::InUse) {
        facts.holder = deviceHolder(path);
    }
    return facts;
}

} // namespace rio::serial
