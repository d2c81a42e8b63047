#pragma once
// The serial control the panel talks to the board line through. The exchanges
// see only this interface, so tests can run them against a scripted fake and
// the program against a real device.

#include <stdexcept>
#include <string>
#include <string_view>

namespace rio::serial {

// Every failing port operation throws this: a port that does not exist or is
// in use, a speed the device refuses, a write or read on a closed port.
class PortError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SerialControl {
public:
    virtual ~SerialControl() = default;

    // CommPort: the port number, 1 and up. Throws for a number below 1 or
    // while the port is open.
    virtual void setCommPort(int number) = 0;
    [[nodiscard]] virtual int commPort() const = 0;

    // Settings: " 9600,N,8,1" — a blank (a minus sign for a negative number),
    // the decimal speed, ",N,8,1". Throws for text of another form or a speed
    // that is not positive.
    virtual void setSettings(std::string_view settings) = 0;
    [[nodiscard]] virtual std::string settings() const = 0;

    // PortOpen: true opens the numbered port with the settings (8 data bits,
    // no parity, 1 stop bit, no flow control, exclusive use); false closes it.
    // Opening throws when the device is missing, in use or refuses the speed,
    // or when the port is already open. Closing a port that is not open does
    // nothing. A device that goes away while open (a USB adapter pulled)
    // closes the port, so that the next output or input throws.
    virtual void setPortOpen(bool open) = 0;
    [[nodiscard]] virtual bool portOpen() const = 0;

    // Output: sends the whole string, one byte per character. Throws when the
    // port is not open or the device does not take every byte.
    virtual void output(std::string_view bytes) = 0;

    // Input: every byte received and not yet taken, in arrival order, possibly
    // none; never waits. Throws when the port is not open.
    [[nodiscard]] virtual std::string input() = 0;

    // Drops every byte received and not yet taken. Throws when the port is not
    // open. This version takes them with input(); a control that can empty
    // the device's buffer without reading it does so instead.
    virtual void discardInput() { static_cast<void>(input()); }
};

} // namespace rio::serial
