#include "tests/support/fake_port.h"

#include "serial/settings_text.h"

#include <algorithm>

namespace rio::test {

void FakePort::setCommPort(int number) {
    if (m_open)
        throw serial::PortError("port is open");
    if (number < 1)
        throw serial::PortError("no such port");
    m_commPort = number;
}

void FakePort::setSettings(std::string_view settings) {
    // The port's own rule, so the fake takes and refuses what a device would.
    static_cast<void>(serial::speedFromSettings(settings));
    m_settings = std::string(settings);
    settingsSet.push_back(m_settings);
}

void FakePort::setPortOpen(bool open) {
    if (!open) {
        if (m_open)
            ++closeCount;
        m_open = false;
        return;
    }
    if (m_open)
        throw serial::PortError("already open");
    if (inUse ||
        std::find(existingPorts.begin(), existingPorts.end(), m_commPort) == existingPorts.end())
        throw serial::PortError("cannot open");
    m_open = true;
    ++openCount;
}

void FakePort::output(std::string_view bytes) {
    if (!m_open)
        throw serial::PortError("port not open");
    sent.emplace_back(bytes);
    if (onOutput)
        onOutput(sent.back());
    if (respond) {
        std::string reply = respond(sent.back());
        if (!reply.empty())
            m_pending.push_back({std::move(reply), std::chrono::steady_clock::now() + replyDelay});
    }
}

std::string FakePort::input() {
    if (!m_open)
        throw serial::PortError("port not open");
    ++inputCalls;
    if (!m_pending.empty() && m_pending.front().due <= std::chrono::steady_clock::now()) {
        std::string due = std::move(m_pending.front().bytes);
        m_pending.pop_front();
        return due;
    }
    if (m_script.empty())
        return {};
    std::string chunk = std::move(m_script.front());
    m_script.pop_front();
    return chunk;
}

void FakePort::discardInput() {
    if (!m_open)
        throw serial::PortError("port not open");
    ++discards;
    const auto now = std::chrono::steady_clock::now();
    while (!m_pending.empty() && m_pending.front().due <= now)
        m_pending.pop_front();
}

} // namespace rio::test
