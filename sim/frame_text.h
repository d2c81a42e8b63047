#pragma once
// How --log writes frames: readable text with the control bytes named, so a
// line of the log can be compared with a frame written by hand.

#include <chrono>
#include <string>
#include <string_view>

namespace rio::sim {

// ENQ, EOT, ACK, ETX and NAK by name in angle brackets, other bytes outside
// printable ASCII as two lower-case hex digits: "<ENQ>01R<EOT>", "<00>".
[[nodiscard]] std::string describeBytes(std::string_view bytes);

// "   123.456 <- 01 <ENQ>01R<EOT>": milliseconds since the simulator began,
// the direction ("<-" received, "->" sent), the address and the frame.
[[nodiscard]] std::string logLine(std::chrono::nanoseconds sinceStart, std::string_view direction,
                                  std::string_view address, std::string_view bytes);

} // namespace rio::sim
