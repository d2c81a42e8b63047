#pragma once
// The serial control on a Windows COM port, through the Win32 communications
// functions (Qt's serial module is not part of the Windows build). The port
// number is turned into a device by a PortMap when the port is opened: port n
// is COMn unless the user tied it elsewhere.

#include "serial/open_failure.h"
#include "serial/port_map.h"
#include "serial/serial_control.h"

#include <QObject>

#include <cstdint>
#include <string>
#include <string_view>

#include <windows.h>

namespace rio::serial {

class WinSerialControl : public QObject, public SerialControl {
    Q_OBJECT
public:
    explicit WinSerialControl(PortMap ports = PortMap{}, QObject* parent = nullptr);
    ~WinSerialControl() override;

    void setCommPort(int number) override;
    [[nodiscard]] int commPort() const override;

    // While the port is open a new speed is applied at once; a speed the
    // device refuses throws and leaves the settings as they were.
    void setSettings(std::string_view settings) override;
    [[nodiscard]] std::string settings() const override;

    void setPortOpen(bool open) override;
    [[nodiscard]] bool portOpen() const override;

    // Hands every byte to the device before returning. A device that has
    // gone away closes the port and throws.
    void output(std::string_view bytes) override;

    // Takes what the driver holds, without waiting. A device that has gone
    // away closes the port and throws.
    [[nodiscard]] std::string input() override;

    // Empties the driver's receive buffer without reading it.
    void discardInput() override;

signals:
    // The open port was closed because its device went away or failed; the
    // next output or input throws.
    void portLost(const QString& reason);

private:
    [[nodiscard]] QString portLabel() const;
    void requireOpen() const;
    void closeHandle();
    [[noreturn]] void loseDevice(const std::string& doing, unsigned long error);
    [[noreturn]] void failOpen(const OpenFacts& facts) const;
    [[noreturn]] void fail(const std::string& message) const;

    PortMap m_ports;
    // Opened for overlapped I/O, so that a write that hangs can be given up.
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    int m_number = 1;
    QString m_path; // the device last opened for m_number, for messages
    std::string m_settings;
    std::int32_t m_speed;
};

} // namespace rio::serial
