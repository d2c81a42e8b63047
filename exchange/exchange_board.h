#pragma once
// What an exchange needs of one board: where to show things, and the board's
// own state (address, requested outputs, last inputs and analog fields). The
// panel owns one state per board and shows it through its binding table; the
// exchanges never see a widget.

#include "protocol/frames.h"

#include <QString>

#include <optional>
#include <string>
#include <string_view>

namespace rio::exchange {

// A board's part of the window, as the exchanges change it. Frames are bytes
// and are shown one character per byte.
class BoardDisplay {
public:
    virtual ~BoardDisplay() = default;
    virtual void setStatus(const QString& text) = 0;
    virtual void showReadRequest(std::string_view frame) = 0;
    virtual void showReadReply(std::string_view frame) = 0;
    virtual void showWriteRequest(std::string_view frame) = 0;
    virtual void showWriteReply(std::string_view frame) = 0;
    virtual void showAnalog1(const QString& text) = 0;
    virtual void showAnalog2(const QString& text) = 0;
    // Input indicator k (0 to 7): red when lit, the button colour otherwise.
    virtual void setIndicator(int k, bool lit) = 0;
};

// One board's variables, held once by whoever owns the board.
struct BoardState {
    protocol::BoardAddr address;          // the two address bytes it answers to
    protocol::Bits outBits{};             // requested outputs, '0' or '1'
    std::optional<protocol::Bits> inBits; // last accepted inputs; none before the first
    std::string adRawA;                   // last analog fields as received
    std::string adRawB;
    // What the log last said of this board's failing reads and writes: a
    // failure that repeats on every poll is logged once, not ten times a
    // second, and logged again when it changes or after the board recovers.
    std::string readFailureLogged;
    std::string writeFailureLogged;
};

struct Board {
    int number = 0; // 1, 2 or 3, as the status texts name it
    BoardDisplay* display = nullptr;
    BoardState* state = nullptr;
};

} // namespace rio::exchange
