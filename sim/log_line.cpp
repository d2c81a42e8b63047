#include "sim/log_line.h"

#include "protocol/frame_text.h"

#include <cstdio>

namespace rio::sim {

std::string logLine(std::chrono::nanoseconds sinceStart, std::string_view direction,
                    std::string_view address, std::string_view bytes) {
    const double ms = std::chrono::duration<double, std::milli>(sinceStart).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%10.3f ", ms);
    std::string line = stamp;
    line += direction;
    line += ' ';
    line += rio::protocol::readableFrame(address);
    line += ' ';
    line += rio::protocol::readableFrame(bytes);
    return line;
}

} // namespace rio::sim
