#pragma once
// Splits the byte stream the board side receives into requests. The line gives
// no framing beyond ENQ and EOT, so bytes arrive in any grouping: a request may
// come over several reads, garbage may precede it, and a panel that gave up
// half-way starts over with a new ENQ. Nothing here does I/O.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace rio::sim {

struct Request {
    std::string address; // the two bytes after ENQ
    char command = 'R';  // 'R' or 'W'
    std::string states;  // for 'W' the eight output states in line order; empty for 'R'
    std::string bytes;   // the whole frame as it came
};

struct ParseEvent {
    enum class Kind {
        Request, // a well-formed request, in `request`
        Ignored, // bytes no board answers: stray bytes, an interrupted or broken frame
    };
    Kind kind = Kind::Ignored;
    Request request;
    std::string ignored;
    // Offset just past the event's last byte within the data handed to feed(),
    // so the caller can tell when that byte was on the line.
    std::size_t end = 0;
};

class RequestParser {
public:
    // Events completed by these bytes, in line order. A frame still open at the
    // end is kept for the next call; stray bytes are reported at once.
    [[nodiscard]] std::vector<ParseEvent> feed(std::string_view data);

private:
    void ignoreFrame(std::vector<ParseEvent>& events, std::size_t end);
    void flushStray(std::vector<ParseEvent>& events, std::size_t end);

    std::string m_frame; // from ENQ on; empty while hunting for ENQ
    std::string m_stray; // bytes seen outside any frame
};

} // namespace rio::sim
