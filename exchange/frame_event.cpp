#include "exchange/frame_event.h"

namespace rio::exchange {

const char* outcomeWord(FrameOutcome outcome) {
    switch (outcome) {
    case FrameOutcome::None:
        return "";
    case FrameOutcome::Ok:
        return "ok";
    case FrameOutcome::RejectedEtx:
        return "rejected:etx";
    case FrameOutcome::RejectedAck:
        return "rejected:ack";
    case FrameOutcome::RejectedCommand:
        return "rejected:command";
    case FrameOutcome::RejectedLength:
        return "rejected:length";
    case FrameOutcome::RejectedAnalog:
        return "rejected:analog";
    case FrameOutcome::NoAnswer:
        return "no-answer";
    case FrameOutcome::PortError:
        return "port-error";
    }
    return "";
}

const char* kindWord(ExchangeKind kind) {
    return kind == ExchangeKind::Read ? "read" : "write";
}

FrameOutcome outcomeOf(protocol::Verdict verdict) {
    switch (verdict) {
    case protocol::Verdict::Accepted:
        return FrameOutcome::Ok;
    case protocol::Verdict::NoEtx:
        return FrameOutcome::RejectedEtx;
    case protocol::Verdict::NoAck:
        return FrameOutcome::RejectedAck;
    case protocol::Verdict::WrongCommand:
        return FrameOutcome::RejectedCommand;
    case protocol::Verdict::WrongLength:
        return FrameOutcome::RejectedLength;
    case protocol::Verdict::AnalogNotNumber:
        return FrameOutcome::RejectedAnalog;
    }
    return FrameOutcome::RejectedEtx;
}

} // namespace rio::exchange
