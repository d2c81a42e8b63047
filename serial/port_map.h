#pragma once
// Port numbers to devices. The panel and its command line speak of port 1, 2,
// ...; this turns such a number into the device to open, from the serial
// devices present and any number the user tied to a device of their choice.

#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace rio::serial {

// A serial device the system lists.
struct PresentDevice {
    QString name;        // "ttyUSB0", "COM3"
    QString path;        // what to open: "/dev/ttyUSB0", "COM3"
    QString description; // the system's words for it, possibly empty
};

// One line of the --list-ports printout.
struct NumberedPort {
    int number;
    QString devicePath;
    QString description;

    friend bool operator==(const NumberedPort&, const NumberedPort&) = default;
};

// A port number tied to a device by the user.
struct PortOverride {
    int number;
    QString devicePath;
};

// Linux numbering order: built-in ports (ttyS*), USB adapters (ttyUSB*),
// ttyACM*, then any others; within a group by number, so ttyS2 comes before
// ttyS10. Names may be given as paths; the order looks at the last part.
[[nodiscard]] QStringList orderDeviceNames(QStringList names);

// Reads the text of one --port-device option, "N=PATH" with N from 1 up.
// Throws std::invalid_argument otherwise, with a message for the user saying
// what the option needs (without repeating the option or the text).
[[nodiscard]] PortOverride parsePortOverride(const QString& text);

// The devices present now, as Qt lists them.
[[nodiscard]] std::vector<PresentDevice> presentDevices();

class PortMap {
public:
    using DeviceSource = std::function<std::vector<PresentDevice>()>;

    // The devices are asked for on every look-up, so that an adapter plugged
    // in after start-up is found; tests hand in a fixed list instead.
    explicit PortMap(DeviceSource source = presentDevices);

    // A later override for the same number replaces the earlier one.
    void addOverride(const PortOverride& override);

    // The device for a port number, overrides first; none when the number is
    // below 1 or no device has it. On Windows port n is COMn, present or not.
    [[nodiscard]] std::optional<QString> devicePath(int number) const;

    // Every numbered port, by number: the present devices under the rule, and
    // the overrides, which take the place of the rule's device for their
    // number without renumbering the others.
    [[nodiscard]] std::vector<NumberedPort> numbering() const;

private:
    DeviceSource m_source;
    std::map<int, QString> m_overrides;
};

} // namespace rio::serial
