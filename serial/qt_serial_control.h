#pragma once
// The serial control on a real device, through QSerialPort. The port number is
// turned into a device by a PortMap when the port is opened.

#include "serial/open_failure.h"
#include "serial/port_map.h"
#include "serial/serial_control.h"

#include <QObject>
#include <QSerialPort>

#include <cstdint>
#include <string>
#include <string_view>

namespace rio::serial {

class QtSerialControl : public QObject, public SerialControl {
    Q_OBJECT
public:
    explicit QtSerialControl(PortMap ports = PortMap{}, QObject* parent = nullptr);
    ~QtSerialControl() override;

    void setCommPort(int number) override;
    [[nodiscard]] int commPort() const override;

    // While the port is open a new speed is applied at once; a speed the
    // device refuses throws and leaves the settings as they were.
    void setSettings(std::string_view settings) override;
    [[nodiscard]] std::string settings() const override;

    void setPortOpen(bool open) override;
    [[nodiscard]] bool portOpen() const override;

    // Hands every byte to the device before returning, without needing the
    // event loop. A device that has gone away closes the port and throws.
    void output(std::string_view bytes) override;

    // Also takes bytes the system holds that the event loop has not yet seen.
    // A device that has gone away closes the port and throws.
    [[nodiscard]] std::string input() override;

    // Empties Qt's buffer and the system's without reading them, so a flood
    // costs nothing to drop. A device that has gone away closes the port and
    // throws.
    void discardInput() override;

signals:
    // The open port was closed because its device went away or failed; the
    // next output or input throws.
    void portLost(const QString& reason);

private:
    [[nodiscard]] QString portLabel() const;
    void requireOpen() const;
    void onError(QSerialPort::SerialPortError error);
    void loseDevice(const QString& reason);
    // 0 when this process now holds the device's lock, else the errno.
    [[nodiscard]] int lockDevice();
    // Logs the reason and throws it.
    [[noreturn]] void failOpen(const OpenFacts& facts) const;
    [[noreturn]] void fail(const std::string& message) const;

    PortMap m_ports;
    QSerialPort m_port;
    int m_number = 1;
    QString m_path; // the device last opened for m_number, for messages
    std::string m_settings;
    std::int32_t m_speed;
};

} // namespace rio::serial
