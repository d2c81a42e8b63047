#pragma once
// A reply judged once: everything the system knows of it, from its bytes.
// The exchange applies this value to the board and hands it on with the
// reply's frame event; nothing above the exchange reads reply bytes again.

#include "protocol/frames.h"

#include <optional>
#include <string>
#include <string_view>

namespace rio::protocol {

// One analog field of a read reply.
struct AnalogField {
    std::string field;                  // the four characters as received
    std::optional<AnalogNumber> number; // none when the field is not a number
};

struct JudgedReply {
    // The first acceptance test the reply failed, in the order the tests are
    // made; AnalogNotNumber when a read reply passed them all but an analog
    // field is not a number; Accepted when nothing is wrong with it.
    Verdict verdict = Verdict::NoEtx;
    // A read reply that passed the frame tests (Accepted or AnalogNotNumber);
    // empty otherwise, and always for a write reply.
    Bits inBits{};
    AnalogField analog1; // positions 13-16
    AnalogField analog2; // positions 17-20

    [[nodiscard]] bool accepted() const { return verdict == Verdict::Accepted; }
    // The frame passed its tests: a read's inputs and fields are there, even
    // when a field is not a number.
    [[nodiscard]] bool framePassed() const {
        return verdict == Verdict::Accepted || verdict == Verdict::AnalogNotNumber;
    }
};

// A reply to a read request, judged: ETX at 21, ACK at 1, 'R' at 4, length
// exactly 21, then both analog fields numbers.
[[nodiscard]] JudgedReply judgeRead(std::string_view reply);

// A reply to a write request, judged: ETX at 13, ACK at 1, 'W' at 4.
[[nodiscard]] JudgedReply judgeWrite(std::string_view reply);

} // namespace rio::protocol
