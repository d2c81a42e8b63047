#pragma once
// The trace format, decided once: one CSV row per frame on the line, and the
// cell quoting and formula guard every CSV file of these programs goes
// through. Rows are RFC 4180 (UTF-8, CRLF, quotes only where a cell needs
// them); times are ISO 8601 UTC with milliseconds whatever the machine's zone.

#include "exchange/frame_event.h"

#include <chrono>
#include <string>
#include <string_view>

namespace rio::trace {

inline constexpr std::string_view kCsvLineEnd = "\r\n";

// The trace file's header row, without its line end.
inline constexpr std::string_view kTraceHeader =
    "time,board,address,direction,kind,frame,hex,outcome,response_ms";

// Whether a cell gets the formula guard. Text that came from the line or from
// a person is guarded; a number the program itself wrote may go out as is so
// a spreadsheet still reads "-0.5" as a number.
enum class CsvGuard { Formula, None };

// Appends one cell. Guarded, a cell beginning with '=', '+', '-', '@', a tab or
// a carriage return gets a leading "'" so a spreadsheet never runs it as a
// formula. Then, if it holds a comma, a quote, CR or LF, it is quoted with
// its quotes doubled; otherwise it goes out as it is.
void appendCsvField(std::string& line, std::string_view text, CsvGuard guard = CsvGuard::Formula);
[[nodiscard]] std::string csvField(std::string_view text, CsvGuard guard = CsvGuard::Formula);

// "2026-12-08T05:12:03.123Z": UTC, milliseconds truncated, never local time.
void appendIsoTime(std::string& text, std::chrono::system_clock::time_point time);
[[nodiscard]] std::string isoTime(std::chrono::system_clock::time_point time);

// Milliseconds with one decimal, rounded half up: 27351 us gives "27.4".
void appendMilliseconds(std::string& text, std::chrono::microseconds duration);
[[nodiscard]] std::string millisecondsText(std::chrono::microseconds duration);

// Appends one trace row for the event, line end included:
//   time,board,address,direction,kind,frame,hex,outcome,response_ms
// The address and frame in their readable form, the frame's bytes in hex, the
// outcome word on RX rows, and response_ms on RX rows with a reply.
void appendTraceRow(std::string& line, const exchange::FrameEvent& event);
[[nodiscard]] std::string traceRow(const exchange::FrameEvent& event);

} // namespace rio::trace
