#include "protocol/judged_reply.h"

#include <utility>

namespace rio::protocol {

JudgedReply judgeRead(std::string_view reply) {
    JudgedReply judged;
    judged.verdict = judgeReadReply(reply);
    if (judged.verdict != Verdict::Accepted)
        return judged;
    ReadReply decoded = decodeReadReply(reply);
    judged.inBits = decoded.inBits;
    judged.analog1.field = std::move(decoded.analogA);
    judged.analog2.field = std::move(decoded.analogB);
    judged.analog1.number = analogNumber(judged.analog1.field);
    judged.analog2.number = analogNumber(judged.analog2.field);
    if (!judged.analog1.number || !judged.analog2.number)
        judged.verdict = Verdict::AnalogNotNumber;
    return judged;
}

JudgedReply judgeWrite(std::string_view reply) {
    JudgedReply judged;
    judged.verdict = judgeWriteReply(reply);
    return judged;
}

} // namespace rio::protocol
