#pragma once
// A scripted serial control for tests: it records every byte sent and hands
// out prepared input one read at a time, so an exchange's traffic can be
// checked exactly and without timing.

#include "serial/serial_control.h"

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace rio::test {

class FakePort : public serial::SerialControl {
public:
    void setCommPort(int number) override;
    [[nodiscard]] int commPort() const override { return m_commPort; }
    void setSettings(std::string_view settings) override;
    [[nodiscard]] std::string settings() const override { return m_settings; }
    void setPortOpen(bool open) override;
    [[nodiscard]] bool portOpen() const override { return m_open; }
    void output(std::string_view bytes) override;
    [[nodiscard]] std::string input() override;
    // Drops the board's replies that are already due; the script is what
    // arrives after the request and stays.
    void discardInput() override;

    // Script: each queued chunk is what one input() call returns; once the
    // queue is empty input() returns nothing.
    void queueInput(std::string chunk) { m_script.push_back(std::move(chunk)); }
    // Called on every output(), e.g. to queue the reply to what was sent.
    std::function<void(const std::string& sent)> onOutput;
    // A board behind the port: the reply to each request, handed out whole by
    // the first input() at least `replyDelay` after the request went out.
    // An empty reply is silence.
    std::function<std::string(const std::string& request)> respond;
    std::chrono::milliseconds replyDelay{0};
    // Ports that open(); any other number fails as a missing device would.
    std::vector<int> existingPorts{1};
    // A port held by another program: opening it fails.
    bool inUse = false;

    std::vector<std::string> sent;        // one entry per output() call
    std::vector<std::string> settingsSet; // every settings text applied
    int inputCalls = 0;
    int discards = 0;
    int openCount = 0;
    int closeCount = 0;

private:
    int m_commPort = 1;
    std::string m_settings = "9600,N,8,1";
    bool m_open = false;
    std::deque<std::string> m_script;
    struct Pending {
        std::string bytes;
        std::chrono::steady_clock::time_point due;
    };
    std::deque<Pending> m_pending;
};

} // namespace rio::test
