// Reply acceptance and decoding on any bytes: the verdicts follow the frame
// layout, an accepted read reply decodes within its 21 bytes, and nothing
// reads past the end of what arrived.

#include "frames.h"
#include "require.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace rio::protocol;

using rio::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly the bytes, so AddressSanitizer sees a read one past
    // the end.
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string_view reply(bytes);

    require(replyComplete(reply) == (reply.find(ETX) != std::string_view::npos));

    const Verdict read = judgeReadReply(reply);
    if (read == Verdict::Accepted) {
        require(reply.size() == kReadReplyLength);
        require(reply[0] == ACK && reply[3] == 'R' && reply[20] == ETX);
        const ReadReply decoded = decodeReadReply(reply);
        require(decoded.analogA == reply.substr(12, 4));
        require(decoded.analogB == reply.substr(16, 4));
        for (std::size_t k = 0; k < decoded.inBits.size(); ++k)
            require(decoded.inBits[k] == reply[11 - k]);
    } else {
        require(reply.size() != kReadReplyLength || reply[0] != ACK || reply[3] != 'R' ||
                reply[20] != ETX);
    }
    // Decoding is also safe on what was not accepted, short input included.
    static_cast<void>(decodeReadReply(reply));

    const Verdict write = judgeWriteReply(reply);
    require((write == Verdict::Accepted) ==
            (reply.size() >= kWriteReplyMinimum && reply[0] == ACK && reply[3] == 'W' &&
             reply[12] == ETX));
    return 0;
}
