#include "bench/probe_port/probe_port.h"

#include "protocol/frames.h"

namespace rio::bench {

ProbePort::ProbePort(serial::PortMap ports)
    : m_port(std::make_unique<serial::QtSerialControl>(std::move(ports))) {}

void ProbePort::output(std::string_view bytes) {
    if (beforeRequest)
        beforeRequest(bytes);
    if (m_requests > 0 && keepNotes)
        m_notes.push_back(m_current);
    ++m_requests;
    m_current = {};
    m_reply.clear();
    if (bytes.size() >= 4) {
        m_current.kind = bytes[3];
        const std::string_view address = bytes.substr(1, 2);
        m_current.board = address == "01" ? 1 : address == "02" ? 2 : address == "03" ? 3 : 0;
    }
    m_current.sent = Clock::now();
    m_port->output(bytes);
}

void ProbePort::discardInput() {
    try {
        m_port->discardInput();
    } catch (const serial::PortError&) {
        if (failedBeforeRequest)
            failedBeforeRequest();
        throw;
    }
}

std::string ProbePort::input() {
    std::string bytes = m_port->input();
    ++m_inputCalls;
    m_current.lastInput = Clock::now();
    if (m_current.inputs++ == 0)
        m_current.firstInput = m_current.lastInput;
    if (!bytes.empty() && m_current.complete == Clock::time_point{}) {
        m_reply += bytes;
        if (protocol::replyComplete(m_reply))
            m_current.complete = m_current.lastInput;
    }
    return bytes;
}

} // namespace rio::bench
