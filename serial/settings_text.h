#pragma once
// The port settings text, " 9600,N,8,1", read into the speed it names and
// written from one. The line format after the speed is fixed, so the speed is
// all the text carries.

#include <cstdint>
#include <string>
#include <string_view>

namespace rio::serial {

// What a control uses until it is told otherwise.
inline constexpr std::string_view kDefaultSettings = " 9600,N,8,1";

// The speed in bits per second. Throws PortError, saying what is wrong, for
// text that is not a blank followed by the decimal speed and ",N,8,1", and for
// a speed that is negative (written with a leading minus), zero or too large
// to hand to a device.
[[nodiscard]] std::int32_t speedFromSettings(std::string_view settings);

// The text for a speed: a blank before a number that is not negative (a
// minus sign before one that is), the digits, then ",N,8,1". A negative or
// zero speed is written too; speedFromSettings() refuses it.
[[nodiscard]] std::string settingsText(std::int32_t speed);

} // namespace rio::serial
