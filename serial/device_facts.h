#pragma once
// What the system says about a serial device beyond whether it opens: the
// group that grants access and the user's place in it, another program that
// holds it, its USB identity and its stable name. The port's failure messages,
// --doctor and --list-ports read these. Where the system has no such facts
// (no /proc, no sysfs) the answers are empty.

#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace rio::serial {

// The group a device belongs to, and the user's place in it.
struct GroupFacts {
    std::string name;             // "dialout"; the number when the group has no name
    bool grantsReadWrite = false; // the device's mode lets the group read and write
    bool userListed = false;      // the group database has the user in it
    bool activeHere = false;      // this process carries the group; a group added
                                  // to the database counts only from the next login
};

[[nodiscard]] std::optional<GroupFacts> deviceGroup(const QString& path);

// A process that has the device open.
struct Holder {
    long pid = 0;
    std::string command; // its command line, shortened, or its name
};

// A process other than this one with the device open, found among the open
// files in /proc (only those this user may look at), else the live process
// named by a lock file (LCK..name in /var/lock or the temporary directory).
// The far end of a pseudo-terminal does not count.
[[nodiscard]] std::optional<Holder> deviceHolder(const QString& path);

// A lock file for the device: LCK..name in /var/lock or the temporary
// directory, name the device's below /dev with '/' as '_' ("LCK..ttyUSB0",
// "LCK..pts_3"). Only a regular file is read: anyone may put a FIFO by that
// name in /tmp, and reading it would wait for ever.
struct LockFile {
    QString path;
    QString kind; // "a regular file", "a FIFO", "a directory", ...
    bool regular = false;
};

// The lock files present for the device, as lstat() finds them.
[[nodiscard]] std::vector<LockFile> lockFiles(const QString& path);

// For a pseudo-terminal, the process holding its master side (a simulator,
// say): the other end of the line.
[[nodiscard]] std::optional<Holder> pseudoTerminalFarEnd(const QString& path);

// ModemManager probes every new USB serial adapter with modem commands, which
// would reach the boards' line.
[[nodiscard]] bool modemManagerRunning();

// An FTDI adapter holds received bytes until its latency timer runs out (16 ms
// by default), so replies arrive late and in lumps.
struct LatencyTimer {
    QString sysfsPath;
    int milliseconds = 0;
};
[[nodiscard]] std::optional<LatencyTimer> latencyTimer(const QString& path);

// Whether the device sits on USB, by its place in sysfs.
[[nodiscard]] bool isUsbDevice(const QString& path);

// The name under byIdDir that leads to the device: it stays the same whatever
// order adapters are plugged in. Empty when there is none.
[[nodiscard]] QString stableName(const QString& path,
                                 const QString& byIdDir = QStringLiteral("/dev/serial/by-id"));

// What --list-ports shows beyond number, device and description.
struct PortDetails {
    QString stableName;    // see stableName()
    QString vendorProduct; // "0403:6001", empty when not USB
    QString serialNumber;  // the USB serial number, possibly empty
    bool userCanOpen = false;
};
[[nodiscard]] PortDetails portDetails(const QString& path);

// The system's text for an errno value.
[[nodiscard]] std::string systemText(int error);

} // namespace rio::serial
