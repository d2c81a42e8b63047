#pragma once
// The board binding table: the three boards differ only in which controls and
// variables serve them. Per-board code takes one of these.

#include "controls.h"
#include "frames.h"

#include <QLabel>
#include <QLineEdit>

#include <array>
#include <optional>
#include <string>

namespace rio::panel {

struct BoardBinding {
    int number; // 1, 2 or 3; the board's index is number - 1

    QLabel* status;
    QLineEdit* address;
    QLineEdit* readRequest;  // "Send Data" under INPUT
    QLineEdit* readReply;    // "Read Data" under INPUT
    QLineEdit* writeRequest; // "Send Data" under OUTPUT
    QLineEdit* writeReply;   // "Read Data" under OUTPUT
    QLineEdit* analog1;      // "AD1"
    QLineEdit* analog2;      // "AD2"
    std::array<GraphicButton*, 8> outputs;
    std::array<GraphicButton*, 8> inputs;

    protocol::BoardAddr* boardAddr;
    protocol::Bits* outBits;               // requested outputs, '0' or '1'
    std::optional<protocol::Bits>* inBits; // last accepted inputs; none before the first
    std::string* adRawA;
    std::string* adRawB;
};

} // namespace rio::panel
