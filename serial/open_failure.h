#pragma once
// Why a port will not open, in one line a person can act on. The reasoning is
// a pure function of facts, so every case can be shown without provoking it;
// probeOpenFailure() gathers the facts from the system where the failure
// happens.

#include "serial/device_facts.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string>

namespace rio::serial {

enum class OpenCause {
    NoDevice,         // ENOENT, ENODEV, ENXIO: nothing there, or it went away
    PermissionDenied, // EACCES, EPERM
    InUse,            // EBUSY, EWOULDBLOCK: another program has it
    SpeedRefused,     // the device opened but will not take the speed
    Other,
};

[[nodiscard]] OpenCause causeOfErrno(int error);

struct OpenFacts {
    OpenCause cause = OpenCause::Other;
    std::string devicePath;
    std::string group;        // the device's group, empty when unknown
    bool userListed = false;  // the group database has the user in that group
    bool groupActive = false; // this process carries the group
    std::optional<Holder> holder;
    std::int32_t speed = 0; // with SpeedRefused
    std::string systemText; // the system's words for the failure, possibly empty
};

// "cannot open /dev/ttyUSB0: <why, and what to do>", one line.
[[nodiscard]] std::string openFailureReason(const OpenFacts& facts);

// The facts behind a failed open of path. The cause the caller saw is checked
// against the device: a permission failure on a device this user may read
// and write is another program's hold on it.
[[nodiscard]] OpenFacts probeOpenFailure(const QString& path, OpenCause seen, std::int32_t speed,
                                         const std::string& seenText);

} // namespace rio::serial
