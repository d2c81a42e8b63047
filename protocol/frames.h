#pragma once
// Frames on the board line. A frame is bytes, one byte per character; there is
// no checksum, no length byte and no escaping. Nothing here does I/O.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace rio::protocol {

inline constexpr char ENQ = 0x05; // first byte of every request
inline constexpr char EOT = 0x04; // last byte of every request
inline constexpr char ACK = 0x06; // first byte of every accepted reply
inline constexpr char ETX = 0x03; // end of a reply; its arrival ends the wait

// ENQ, two address bytes, 'R', EOT
inline constexpr std::size_t kReadRequestLength = 5;
// ENQ, two address bytes, 'W', eight output states, EOT
inline constexpr std::size_t kWriteRequestLength = 13;
// ACK, two address bytes, 'R', eight inputs, two four-digit readings, ETX
inline constexpr std::size_t kReadReplyLength = 21;
// ACK, two address bytes, 'W', eight echoed outputs, ETX; more may follow
inline constexpr std::size_t kWriteReplyMinimum = 13;

// Eight one-character states, index 0 to 7. Index 0 belongs to the button
// captioned "1"; on the line index 7 travels first.
using Bits = std::array<char, 8>;

// The two address bytes a board answers to.
using BoardAddr = std::string;

// "00" followed by the box's text, last two characters kept: "1" gives "01",
// "123" gives "23", "" gives "00". The text is taken as code points; a code
// point that has no single-byte (Latin-1) form goes on the line as '?', so an
// address is always exactly two bytes.
[[nodiscard]] BoardAddr addressRule(std::u32string_view boxText);

// Requests always come out at their fixed length: an address that is not two
// bytes long is brought to two bytes by the address rule first.
[[nodiscard]] std::string buildReadRequest(std::string_view addr);
[[nodiscard]] std::string buildWriteRequest(std::string_view addr, const Bits& outBits);

// True once the collected bytes hold ETX anywhere.
[[nodiscard]] bool replyComplete(std::string_view collected);

// Which acceptance test a reply failed first, or Accepted. A position beyond
// the end of the reply counts as empty and fails its test.
enum class Verdict {
    Accepted,
    NoEtx,        // the end position does not hold ETX
    NoAck,        // position 1 is not ACK
    WrongCommand, // position 4 is not the request's command letter
    WrongLength,  // a read reply that is not exactly 21 bytes
    // A read reply that passed every frame test, but an analog field is not
    // a number. Only a judged reply (judgeRead) says so.
    AnalogNotNumber,
};

// ETX at 21, ACK at 1, 'R' at 4, length exactly 21 — in that order.
[[nodiscard]] Verdict judgeReadReply(std::string_view reply);
// ETX at 13, ACK at 1, 'W' at 4 — in that order; bytes after 13 are tolerated.
[[nodiscard]] Verdict judgeWriteReply(std::string_view reply);

struct ReadReply {
    Bits inBits;         // inBits[k] is the byte at position 12 - k
    std::string analogA; // positions 13-16, as text
    std::string analogB; // positions 17-20, as text
};

// Takes an accepted read reply (judgeReadReply gave Accepted).
[[nodiscard]] ReadReply decodeReadReply(std::string_view reply);

// An analog field read as a number: the text it shows as and its value.
struct AnalogNumber {
    std::string text; // plain decimal notation: "512", "-1.5"
    double value = 0;
};

// The number in a four-character analog field, leading zeros dropped ("0512"
// shows as "512"), or nothing when the field is not a number. Blanks around
// the number, a sign and a decimal point are taken; anything else is not a
// number. The value is the one the text reads as.
[[nodiscard]] std::optional<AnalogNumber> analogNumber(std::string_view field);

// analogNumber's text alone.
[[nodiscard]] std::optional<std::string> analogDisplayText(std::string_view field);

// Input or output k (1 to 8, as the panel captions them) sits at index 8 - k
// of eight states as the line carries them, 8 first; in Bits it is index k - 1.
[[nodiscard]] constexpr std::size_t linePosition(int k) {
    return static_cast<std::size_t>(8 - k);
}
// The eight states as the line carries them: "00000101" has 1 and 3 on.
[[nodiscard]] std::string lineOrder(const Bits& bits);
// Eight states as the line carries them into Bits; a state missing from a
// shorter text is NUL, bytes past eight are not read.
[[nodiscard]] Bits fromLineOrder(std::string_view eight);

} // namespace rio::protocol
