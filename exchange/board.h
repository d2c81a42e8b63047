#pragma once
// What an exchange needs of one board: where to show things and which
// variables hold its address, outputs and last inputs. The panel fills one of
// these per board from its binding table; the exchanges never see a widget.

#include "frames.h"

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

struct Board {
    int number; // 1, 2 or 3, as the status texts name it
    BoardDisplay* display;
    const protocol::BoardAddr* boardAddr;
    const protocol::Bits* outBits;
    std::optional<protocol::Bits>* inBits;
    std::string* adRawA;
    std::string* adRawB;
};

} // namespace rio::exchange
