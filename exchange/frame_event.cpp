#include "frame_event.h"

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

} // namespace rio::exchange
