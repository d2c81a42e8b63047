#include "trace/trace_format.h"

#include "protocol/frame_text.h"

#include <algorithm>

namespace rio::trace {

namespace {

using namespace std::chrono;

// Zero-padded decimal digits, most significant first.
void appendDigits(std::string& text, long long value, int width) {
    char digits[20];
    int count = 0;
    unsigned long long rest = value < 0 ? 0ULL : static_cast<unsigned long long>(value);
    do {
        digits[count++] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest != 0 && count < static_cast<int>(sizeof digits));
    for (int pad = count; pad < width; ++pad)
        text += '0';
    while (count > 0)
        text += digits[--count];
}

bool needsGuard(std::string_view text) {
    if (text.empty())
        return false;
    switch (text.front()) {
    case '=':
    case '+':
    case '-':
    case '@':
    case '\t':
    case '\r':
        return true;
    default:
        return false;
    }
}

const char* directionWord(exchange::Direction direction) {
    return direction == exchange::Direction::Tx ? "TX" : "RX";
}

} // namespace

void appendCsvField(std::string& line, std::string_view text, CsvGuard guard) {
    const bool guarded = guard == CsvGuard::Formula && needsGuard(text);
    const bool quoted = text.find_first_of(",\"\r\n") != std::string_view::npos;
    if (quoted)
        line += '"';
    if (guarded)
        line += '\'';
    if (quoted) {
        for (const char c : text) {
            if (c == '"')
                line += '"';
            line += c;
        }
        line += '"';
    } else {
        line += text;
    }
}

std::string csvField(std::string_view text, CsvGuard guard) {
    std::string cell;
    appendCsvField(cell, text, guard);
    return cell;
}

void appendIsoTime(std::string& text, system_clock::time_point time) {
    const auto ms = floor<milliseconds>(time);
    const auto day = floor<days>(ms);
    const year_month_day date{day};
    const hh_mm_ss clock{ms - day};
    appendDigits(text, static_cast<int>(date.year()), 4);
    text += '-';
    appendDigits(text, static_cast<unsigned>(date.month()), 2);
    text += '-';
    appendDigits(text, static_cast<unsigned>(date.day()), 2);
    text += 'T';
    appendDigits(text, clock.hours().count(), 2);
    text += ':';
    appendDigits(text, clock.minutes().count(), 2);
    text += ':';
    appendDigits(text, clock.seconds().count(), 2);
    text += '.';
    appendDigits(text, clock.subseconds().count(), 3);
    text += 'Z';
}

std::string isoTime(system_clock::time_point time) {
    std::string text;
    appendIsoTime(text, time);
    return text;
}

void appendMilliseconds(std::string& text, microseconds duration) {
    // Tenths of a millisecond are hundreds of microseconds.
    const long long tenths = (std::max<long long>(duration.count(), 0) + 50) / 100;
    appendDigits(text, tenths / 10, 1);
    text += '.';
    appendDigits(text, tenths % 10, 1);
}

std::string millisecondsText(microseconds duration) {
    std::string text;
    appendMilliseconds(text, duration);
    return text;
}

void appendTraceRow(std::string& line, const exchange::FrameEvent& event) {
    appendIsoTime(line, event.time);
    line += ',';
    appendDigits(line, event.board, 1);
    line += ',';
    // The address bytes as the frame shows them, so a byte outside printable
    // ASCII cannot make the file other than plain UTF-8.
    appendCsvField(line, protocol::readableFrame(event.address));
    line += ',';
    line += directionWord(event.direction);
    line += ',';
    line += exchange::kindWord(event.kind);
    line += ',';
    appendCsvField(line, protocol::readableFrame(event.bytes));
    line += ',';
    line += protocol::hexFrame(event.bytes);
    line += ',';
    if (event.direction == exchange::Direction::Rx)
        line += exchange::outcomeWord(event.outcome);
    line += ',';
    if (event.direction == exchange::Direction::Rx && event.response)
        appendMilliseconds(line, *event.response);
    line += kCsvLineEnd;
}

std::string traceRow(const exchange::FrameEvent& event) {
    std::string line;
    appendTraceRow(line, event);
    return line;
}

} // namespace rio::trace
