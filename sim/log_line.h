#pragma once
// How --log writes a frame: one line with the time, the direction and the
// frame in the readable form every program shares, so a line of the log can
// be compared with a frame written by hand.

#include <chrono>
#include <string>
#include <string_view>

namespace rio::sim {

// "   123.456 <- 01 <ENQ>01R<EOT>": milliseconds since the simulator began,
// the direction ("<-" received, "->" sent), the address and the frame.
[[nodiscard]] std::string logLine(std::chrono::nanoseconds sinceStart, std::string_view direction,
                                  std::string_view address, std::string_view bytes);

} // namespace rio::sim
