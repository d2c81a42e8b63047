#pragma once
// A serial control that hands everything to the real one and notes, per
// exchange, when the request went out, how often the port was read and when
// the reply was complete. The exchanges cannot tell it from the port itself.
// riobench takes its figures from the notes; riosoak learns from it when each
// exchange begins, and so when the one before it has shown its final status.

#include "serial/qt_serial_control.h"
#include "serial/serial_control.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace rio::bench {

using Clock = std::chrono::steady_clock;

struct ExchangeNote {
    char kind = '?';              // 'R' or 'W', from the request
    int board = 0;                // 1, 2, 3 for addresses 01, 02, 03; 0 for any other
    Clock::time_point sent;       // output() was called
    Clock::time_point firstInput; // the exchange's first read of the port
    Clock::time_point lastInput;  // and its last
    Clock::time_point complete;   // the read that brought ETX (epoch when none did)
    int inputs = 0;
};

class ProbePort : public serial::SerialControl {
public:
    explicit ProbePort(serial::PortMap ports);

    void setCommPort(int number) override { m_port->setCommPort(number); }
    [[nodiscard]] int commPort() const override { return m_port->commPort(); }
    void setSettings(std::string_view settings) override { m_port->setSettings(settings); }
    [[nodiscard]] std::string settings() const override { return m_port->settings(); }
    void setPortOpen(bool open) override { m_port->setPortOpen(open); }
    [[nodiscard]] bool portOpen() const override { return m_port->portOpen(); }
    void output(std::string_view bytes) override;
    [[nodiscard]] std::string input() override;
    void discardInput() override;

    // Called just before a request goes out, while the previous exchange's
    // outcome is still on the panel.
    std::function<void(std::string_view request)> beforeRequest;
    // Called when an exchange fails before its request: on a port that is
    // not open it fails as it drops stale input, and ends as no answer.
    std::function<void()> failedBeforeRequest;

    // Every exchange so far, unless `keepNotes` is off (long runs), in which
    // case only the current one and the counts are kept.
    bool keepNotes = true;
    [[nodiscard]] const std::vector<ExchangeNote>& notes() const { return m_notes; }
    [[nodiscard]] const ExchangeNote& current() const { return m_current; }
    [[nodiscard]] std::int64_t requests() const { return m_requests; }
    [[nodiscard]] std::int64_t inputCalls() const { return m_inputCalls; }

private:
    std::unique_ptr<serial::QtSerialControl> m_port;
    std::vector<ExchangeNote> m_notes;
    ExchangeNote m_current;
    std::string m_reply;
    std::int64_t m_requests = 0;
    std::int64_t m_inputCalls = 0;
};

} // namespace rio::bench
