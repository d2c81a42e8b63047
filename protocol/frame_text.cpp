#include "protocol/frame_text.h"

namespace rio::protocol {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void appendHex(std::string& text, char byte) {
    const auto value = static_cast<unsigned char>(byte);
    text += kHexDigits[value >> 4];
    text += kHexDigits[value & 0x0F];
}

} // namespace

std::string readableFrame(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
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
            if (c >= 0x20 && c < 0x7F) {
                text += c;
            } else {
                text += '<';
                appendHex(text, c);
                text += '>';
            }
        }
    }
    return text;
}

std::string excerpt(std::string_view value, std::size_t limit) {
    if (value.size() <= limit)
        return readableFrame(value);
    return readableFrame(value.substr(0, limit)) + "... (" + std::to_string(value.size()) +
           " bytes)";
}

std::string hexFrame(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        if (!text.empty())
            text += ' ';
        appendHex(text, c);
    }
    return text;
}

} // namespace rio::protocol
