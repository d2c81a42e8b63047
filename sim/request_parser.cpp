#include "sim/request_parser.h"

#include "protocol/frames.h"

namespace rio::sim {

using rio::protocol::ENQ;
using rio::protocol::EOT;
using rio::protocol::kReadRequestLength;
using rio::protocol::kWriteRequestLength;

namespace {

// The letter sits after ENQ and the two address bytes.
constexpr std::size_t kCommandIndex = 3;
constexpr std::size_t kStatesIndex = 4;
constexpr std::size_t kStateCount = 8;

} // namespace

void RequestParser::ignoreFrame(std::vector<ParseEvent>& events, std::size_t end) {
    ParseEvent event;
    event.ignored = std::move(m_frame);
    event.end = end;
    events.push_back(std::move(event));
    m_frame.clear();
}

void RequestParser::flushStray(std::vector<ParseEvent>& events, std::size_t end) {
    if (m_stray.empty())
        return;
    ParseEvent event;
    event.ignored = std::move(m_stray);
    event.end = end;
    events.push_back(std::move(event));
    m_stray.clear();
}

std::vector<ParseEvent> RequestParser::feed(std::string_view data) {
    std::vector<ParseEvent> events;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const char c = data[i];
        // ENQ always starts a request: whatever was pending can no longer
        // become one, because the panel only sends ENQ to begin anew.
        if (c == ENQ) {
            flushStray(events, i);
            if (!m_frame.empty())
                ignoreFrame(events, i);
            m_frame.assign(1, ENQ);
            continue;
        }
        if (m_frame.empty()) {
            m_stray += c;
            continue;
        }
        m_frame += c;
        const std::size_t length = m_frame.size();
        if (length <= kCommandIndex)
            continue; // address bytes may be anything but ENQ
        const char command = m_frame[kCommandIndex];
        if (command != 'R' && command != 'W') {
            // No board knows the letter, so there is nothing to wait for.
            ignoreFrame(events, i + 1);
            continue;
        }
        const std::size_t fullLength = command == 'R' ? kReadRequestLength : kWriteRequestLength;
        if (length < fullLength) {
            // An EOT among the states ends the frame early: drop it now rather
            // than letting it swallow the next request's bytes.
            if (c == EOT)
                ignoreFrame(events, i + 1);
            continue;
        }
        if (c != EOT) {
            ignoreFrame(events, i + 1);
            continue;
        }
        ParseEvent event;
        event.kind = ParseEvent::Kind::Request;
        event.request.address = m_frame.substr(1, 2);
        event.request.command = command;
        if (command == 'W')
            event.request.states = m_frame.substr(kStatesIndex, kStateCount);
        event.request.bytes = std::move(m_frame);
        event.end = i + 1;
        events.push_back(std::move(event));
        m_frame.clear();
    }
    flushStray(events, data.size());
    return events;
}

} // namespace rio::sim
