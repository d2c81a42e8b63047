#pragma once
// The board binding table: the three boards differ only in which controls and
// which state serve them. Per-board code takes one of these.

#include "exchange/exchange_board.h"
#include "panel/controls.h"

#include <QLabel>
#include <QLineEdit>

#include <array>

namespace rio::panel {

struct BoardBinding {
    int number = 0; // 1, 2 or 3; the board's index is number - 1

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

    exchange::BoardState* state; // the board's address, outputs, inputs and analog fields
};

} // namespace rio::panel
