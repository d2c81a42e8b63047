#pragma once
// riopanel --doctor: checks a serial line end to end and says, one line per
// check, what is fine, what may spoil a run and what stops it. The facts are
// gathered in one struct, so the verdicts can be shown for any machine.

#include "serial/device_facts.h"

#include <QString>

#include <optional>
#include <vector>

namespace rio::serial {

struct DoctorFacts {
    QString devicePath;
    QString resolvedPath;           // where a symbolic link leads, else devicePath
    int missingError = 0;           // errno of looking the device up, 0 when it is there
    bool characterDevice = false;   // serial ports are character devices
    int openError = 0;              // errno of opening it for reading and writing, 0 when it opened
    bool takesLineSettings = false; // tcgetattr() works on it: it is a terminal
    bool lockedElsewhere = false;   // another program holds its lock (flock)
    bool readWrite = false;         // access(R_OK | W_OK)
    bool root = false;
    std::optional<GroupFacts> group;
    std::optional<Holder> holder;
    std::optional<Holder> farEnd;       // a pseudo-terminal's master side
    std::vector<LockFile> oddLockFiles; // lock files for it that are not regular files
    bool modemManager = false;
    std::optional<LatencyTimer> latency;
    bool usb = false;
    QString stableName;

    // A Windows COM port: there only whether it is there, opens and takes
    // line settings, and whether another program holds it mean something.
    bool comPort = false;
    bool comMissing = false; // no such port
    bool comHeld = false;    // refused as in use (Windows opens a port for one handle)
    QString comError;        // the system's words when it would not open otherwise
};

// Looks at the device without changing it: opened and closed once, without
// sending anything.
[[nodiscard]] DoctorFacts gatherDoctorFacts(const QString& path);

enum class Verdict { Ok, Warn, Fail };

struct DoctorLine {
    Verdict verdict;
    QString check; // "device", "terminal", ...
    QString text;  // what was found and, for warn and fail, what to do
};

// One line per check that applies. A device that is not there ends the list.
[[nodiscard]] std::vector<DoctorLine> doctorLines(const DoctorFacts& facts);

// "ok    device: /dev/ttyUSB0 is there"
[[nodiscard]] QString formatDoctorLine(const DoctorLine& line);

// 0 when no check failed (a warning passes), 1 otherwise.
[[nodiscard]] int doctorExitCode(const std::vector<DoctorLine>& lines);

} // namespace rio::serial
