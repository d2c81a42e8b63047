#include "frame_text.h"

#include <cstdio>

namespace rio::sim {

std::string describeBytes(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        switch (c) {
        case 0x03:
            text += "<ETX>";
            break;
        case 0x04:
            text += "<EOT>";
            break;
        case 0x05:
            text += "<ENQ>";
            break;
        case 0x06:
            text += "<ACK>";
            break;
        case 0x15:
            text += "<NAK>";
            break;
        default:
            if (c >= 0x20 && c < 0x7f) {
                text += c;
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "<%02x>", static_cast<unsigned char>(c));
                text += hex;
            }
        }
    }
    return text;
}

std::string logLine(std::chrono::nanoseconds sinceStart, std::string_view direction,
                    std::string_view address, std::string_view bytes) {
    const double ms = std::chrono::duration<double, std::milli>(sinceStart).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%10.3f ", ms);
    std::string line = stamp;
    line += direction;
    line += ' ';
    line += describeBytes(address);
    line += ' ';
    line += describeBytes(bytes);
    return line;
}

} // namespace rio::sim
