#include "protocol/frames.h"

#include <charconv>
#include <system_error>
#include <utility>

namespace rio::protocol {

namespace {

// Byte at a 1-based position, or nothing past the end.
std::optional<char> at(std::string_view frame, std::size_t position) {
    if (position == 0 || position > frame.size())
        return std::nullopt;
    return frame[position - 1];
}

bool holds(std::string_view frame, std::size_t position, char expected) {
    return at(frame, position) == expected;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The address bytes a request carries: always exactly two.
std::string_view twoBytes(std::string_view addr, std::string& scratch) {
    if (addr.size() == 2)
        return addr;
    scratch = "00";
    scratch.append(addr);
    return std::string_view(scratch).substr(scratch.size() - 2);
}

} // namespace

BoardAddr addressRule(std::u32string_view boxText) {
    std::u32string text = U"00";
    text.append(boxText);
    BoardAddr addr;
    for (char32_t c : std::u32string_view(text).substr(text.size() - 2))
        addr.push_back(c <= 0xFF ? static_cast<char>(static_cast<unsigned char>(c)) : '?');
    return addr;
}

std::string buildReadRequest(std::string_view addr) {
    std::string scratch;
    std::string frame;
    frame.reserve(kReadRequestLength);
    frame += ENQ;
    frame += twoBytes(addr, scratch);
    frame += 'R';
    frame += EOT;
    return frame;
}

std::string buildWriteRequest(std::string_view addr, const Bits& outBits) {
    std::string scratch;
    std::string frame;
    frame.reserve(kWriteRequestLength);
    frame += ENQ;
    frame += twoBytes(addr, scratch);
    frame += 'W';
    for (std::size_t i = 0; i < outBits.size(); ++i)
        frame += outBits[linePosition(static_cast<int>(i) + 1)];
    frame += EOT;
    return frame;
}

bool replyComplete(std::string_view collected) {
    return collected.find(ETX) != std::string_view::npos;
}

Verdict judgeReadReply(std::string_view reply) {
    if (!holds(reply, kReadReplyLength, ETX))
        return Verdict::NoEtx;
    if (!holds(reply, 1, ACK))
        return Verdict::NoAck;
    if (!holds(reply, 4, 'R'))
        return Verdict::WrongCommand;
    if (reply.size() != kReadReplyLength)
        return Verdict::WrongLength;
    return Verdict::Accepted;
}

Verdict judgeWriteReply(std::string_view reply) {
    if (!holds(reply, kWriteReplyMinimum, ETX))
        return Verdict::NoEtx;
    if (!holds(reply, 1, ACK))
        return Verdict::NoAck;
    if (!holds(reply, 4, 'W'))
        return Verdict::WrongCommand;
    return Verdict::Accepted;
}

ReadReply decodeReadReply(std::string_view reply) {
    ReadReply decoded{};
    // The inputs are positions 5 to 12, in line order.
    for (std::size_t k = 0; k < decoded.inBits.size(); ++k)
        decoded.inBits[k] = at(reply, 5 + linePosition(static_cast<int>(k) + 1)).value_or('\0');
    decoded.analogA = std::string(reply.substr(std::min<std::size_t>(12, reply.size()), 4));
    decoded.analogB = std::string(reply.substr(std::min<std::size_t>(16, reply.size()), 4));
    return decoded;
}

std::optional<AnalogNumber> analogNumber(std::string_view field) {
    while (!field.empty() && field.front() == ' ')
        field.remove_prefix(1);
    while (!field.empty() && field.back() == ' ')
        field.remove_suffix(1);

    bool negative = false;
    if (!field.empty() && (field.front() == '+' || field.front() == '-')) {
        negative = field.front() == '-';
        field.remove_prefix(1);
    }
    // Digits with at most one decimal point, and at least one digit.
    std::size_t digits = 0;
    std::size_t points = 0;
    for (char c : field) {
        if (isDigit(c))
            ++digits;
        else if (c == '.')
            ++points;
        else
            return std::nullopt;
    }
    if (digits == 0 || points > 1)
        return std::nullopt;

    double value = 0;
    auto [end, ec] =
        std::from_chars(field.data(), field.data() + field.size(), value, std::chars_format::fixed);
    if (ec != std::errc() || end != field.data() + field.size())
        return std::nullopt;
    if (negative && value != 0)
        value = -value;

    char text[64];
    auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    if (written.ec != std::errc())
        return std::nullopt;
    // The shortest text that reads back as exactly this value.
    return AnalogNumber{std::string(text, written.ptr), value};
}

std::optional<std::string> analogDisplayText(std::string_view field) {
    std::optional<AnalogNumber> number = analogNumber(field);
    if (!number)
        return std::nullopt;
    return std::move(number->text);
}

std::string lineOrder(const Bits& bits) {
    std::string states(bits.size(), '0');
    for (std::size_t i = 0; i < bits.size(); ++i)
        states[linePosition(static_cast<int>(i) + 1)] = bits[i];
    return states;
}

Bits fromLineOrder(std::string_view eight) {
    Bits bits{};
    for (std::size_t i = 0; i < bits.size(); ++i)
        if (const std::size_t position = linePosition(static_cast<int>(i) + 1);
            position < eight.size())
            bits[i] = eight[position];
    return bits;
}

} // namespace rio::protocol
