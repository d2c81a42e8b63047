#pragma once
// Frames written for people and files: the readable form, with the control
// bytes of the protocol named, and the hex form. Every program that shows or
// records a frame writes it through these, so a frame reads the same in the
// simulator's log, the line monitor, the trace file and the console poller.

#include <cstddef>
#include <string>
#include <string_view>

namespace rio::protocol {

// ENQ, EOT, ACK, NAK and ETX by name in angle brackets, printable ASCII as
// itself, any other byte as two upper-case hex digits in angle brackets:
// "<ENQ>01R<EOT>", "<1B>".
[[nodiscard]] std::string readableFrame(std::string_view bytes);

// A value someone gave (a command-line argument, a line of a plan) as a
// message quotes it: the readable form above, so no control byte reaches a
// terminal, of at most `limit` bytes; a longer value is cut and ends in
// "... (N bytes)", so a file of one long line does not become the message.
inline constexpr std::size_t kExcerptBytes = 40;
[[nodiscard]] std::string excerpt(std::string_view value, std::size_t limit = kExcerptBytes);

// Two upper-case hex digits per byte, separated by single spaces: "05 30 31".
[[nodiscard]] std::string hexFrame(std::string_view bytes);

} // namespace rio::protocol
