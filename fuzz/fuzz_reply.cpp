// Judging replies on any bytes: the verdicts follow the frame layout, an
// accepted read reply decodes within its 21 bytes, and nothing reads past the
// end of what arrived.

#include "fuzz/require.h"
#include "protocol/frames.h"
#include "protocol/judged_reply.h"

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

    const JudgedReply read = judgeRead(reply);
    if (read.framePassed()) {
        require(reply.size() == kReadReplyLength);
        require(reply[0] == ACK && reply[3] == 'R' && reply[20] == ETX);
        require(read.analog1.field == reply.substr(12, 4));
        require(read.analog2.field == reply.substr(16, 4));
        for (std::size_t k = 0; k < read.inBits.size(); ++k)
            require(read.inBits[k] == reply[11 - k]);
        require(read.accepted() == (read.analog1.number && read.analog2.number));
    } else {
        require(reply.size() != kReadReplyLength || reply[0] != ACK || reply[3] != 'R' ||
                reply[20] != ETX);
    }

    const JudgedReply write = judgeWrite(reply);
    require(write.accepted() == (reply.size() >= kWriteReplyMinimum && reply[0] == ACK &&
                                 reply[3] == 'W' && reply[12] == ETX));
    return 0;
}
