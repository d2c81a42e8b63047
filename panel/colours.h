#pragma once
// Colours as the panel's code reads and writes them: 24-bit blue-green-red
// numbers (&H00BBGGRR), or a system colour with the top bit set.

#include <QColor>
#include <QPalette>

#include <cstdint>

namespace rio::panel {

using OleColour = std::uint32_t;

inline constexpr OleColour kRed = 0x000000FF;    // 255
inline constexpr OleColour kGreen = 0x0000FF00;  // 65280
inline constexpr OleColour kBlue = 0x00FF0000;   // 16711680
inline constexpr OleColour kWhite = 0x00FFFFFF;  // 16777215
inline constexpr OleColour kYellow = 0x0000FFFF; // 65535
// The style's button colour, whatever it is on this desktop.
inline constexpr OleColour kButtonFace = 0x8000000F;

// The colour to paint: system colours come from the palette.
[[nodiscard]] inline QColor toQColor(OleColour colour, const QPalette& palette) {
    if (colour == kButtonFace)
        return palette.color(QPalette::Button);
    return QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF));
}

} // namespace rio::panel
