// Port numbers to devices; see port_map.h.
#include "serial/port_map.h"

#include <QFileInfo>
#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QSerialPortInfo>
#endif

#include <algorithm>
#include <stdexcept>
#include <tuple>

namespace rio::serial {

namespace {

// Where a device name falls in the Linux order.
struct OrderKey {
    int group;     // 0 ttyS, 1 ttyUSB, 2 ttyACM, 3 the rest
    QString stem;  // the name without its trailing number
    qint64 number; // the trailing number, -1 when there is none
    QString name;  // last resort, so the order is total

    [[nodiscard]] auto tied() const { return std::tie(group, stem, number, name); }
};

[[nodiscard]] OrderKey orderKey(const QString& nameOrPath) {
    const QString name = QFileInfo(nameOrPath).fileName();
    qsizetype digitsAt = name.size();
    while (digitsAt > 0 && name.at(digitsAt - 1).isDigit()) {
        --digitsAt;
    }
    OrderKey key{3, name.left(digitsAt), -1, name};
    const QString digits = name.mid(digitsAt);
    bool ok = false;
    const qint64 number = digits.toLongLong(&ok);
    if (ok) {
        key.number = number;
    }
    // A group name counts only with a number after it: "ttySAC0" is not a
    // built-in port.
    static const QStringList kGroups{"ttyS", "ttyUSB", "ttyACM"};
    const auto group = kGroups.indexOf(key.stem);
    if (group >= 0 && ok) {
        key.group = static_cast<int>(group);
    }
    return key;
}

#ifdef Q_OS_WIN
// Port n is COMn; anything else Windows lists has no number.
[[nodiscard]] std::optional<int> comNumber(const QString& name) {
    if (!name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) {
        return std::nullopt;
    }
    bool ok = false;
    const int number = name.mid(3).toInt(&ok);
    return ok && number >= 1 ? std::optional(number) : std::nullopt;
}
#endif

// The rule's numbering of the present devices, by number.
[[nodiscard]] std::map<int, PresentDevice> ruleNumbering(std::vector<PresentDevice> present) {
    std::map<int, PresentDevice> numbered;
#ifdef Q_OS_WIN
    for (auto& device : present) {
        if (const auto number = comNumber(device.name)) {
            numbered.emplace(*number, std::move(device));
        }
    }
#else
    std::stable_sort(present.begin(), present.end(), [](const auto& a, const auto& b) {
        return orderKey(a.name).tied() < orderKey(b.name).tied();
    });
    int number = 1;
    for (auto& device : present) {
        numbered.emplace(number++, std::move(device));
    }
#endif
    return numbered;
}

} // namespace

QStringList orderDeviceNames(QStringList names) {
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return orderKey(a).tied() < orderKey(b).tied();
    });
    return names;
}

PortOverride parsePortOverride(const QString& text) {
    // The caller shows the option and the text given; this says what it needs.
    const auto fail = [] {
        throw std::invalid_argument(
            "expected N=PATH: a port number from 1 up, '=' and the device to use for it, "
            "as in 1=/dev/ttyUSB0");
    };
    const auto equals = text.indexOf(QLatin1Char('='));
    if (equals <= 0 || equals == text.size() - 1) {
        fail();
    }
    const QString number = text.left(equals);
    // toInt alone would let signs and blanks through.
    const bool allDigits =
        std::all_of(number.begin(), number.end(), [](QChar c) { return c.isDigit(); });
    bool ok = false;
    const int value = number.toInt(&ok);
    if (!allDigits || !ok || value < 1) {
        fail();
    }
    return {value, text.mid(equals + 1)};
}

#ifdef Q_OS_WIN

// The system's serial device map: one value per port present, named by the
// driver's device ("\Device\Serial0", "\Device\VCP0") with the port's name
// ("COM3") as its data.
std::vector<PresentDevice> presentDevices() {
    std::vector<PresentDevice> devices;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return devices;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256;
        wchar_t data[64];
        DWORD dataBytes = sizeof data;
        DWORD type = 0;
        const LONG status = RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataBytes);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        QString port = QString::fromWCharArray(data, static_cast<int>(dataBytes / sizeof(wchar_t)));
        port.truncate(port.indexOf(QChar(0)) < 0 ? port.size() : port.indexOf(QChar(0)));
        devices.push_back(
            {port, port, QString::fromWCharArray(name, static_cast<int>(nameLength))});
    }
    RegCloseKey(key);
    return devices;
}

#else

std::vector<PresentDevice> presentDevices() {
    std::vector<PresentDevice> devices;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        QString description = info.description();
        if (description.isEmpty()) {
            description = info.manufacturer();
        }
        devices.push_back({info.portName(), info.systemLocation(), description});
    }
    return devices;
}

#endif

PortMap::PortMap(DeviceSource source) : m_source(std::move(source)) {}

void PortMap::addOverride(const PortOverride& override) {
    m_overrides.insert_or_assign(override.number, override.devicePath);
}

std::optional<QString> PortMap::devicePath(int number) const {
    if (number < 1) {
        return std::nullopt;
    }
    if (const auto found = m_overrides.find(number); found != m_overrides.end()) {
        return found->second;
    }
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(number);
#else
    const auto numbered = ruleNumbering(m_source());
    if (const auto found = numbered.find(number); found != numbered.end()) {
        return found->second.path;
    }
    return std::nullopt;
#endif
}

std::vector<NumberedPort> PortMap::numbering() const {
    const std::vector<PresentDevice> present = m_source();
    std::map<int, NumberedPort> lines;
    for (const auto& [number, device] : ruleNumbering(present)) {
        lines.insert_or_assign(number, NumberedPort{number, device.path, device.description});
    }
    for (const auto& [number, path] : m_overrides) {
        // Keep the system's words when the override names a listed device.
        QString description = QStringLiteral("given with --port-device");
        for (const auto& device : present) {
            if (device.path == path && !device.description.isEmpty()) {
                description = device.description;
            }
        }
        lines.insert_or_assign(number, NumberedPort{number, path, description});
    }
    std::vector<NumberedPort> result;
    result.reserve(lines.size());
    for (auto& line : lines) {
        result.push_back(std::move(line.second));
    }
    return result;
}

} // namespace rio::serial
