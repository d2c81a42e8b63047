#pragma once
// Reading the port settings text, " 9600,N,8,1", into the speed it names. The
// line format after the speed is fixed, so the speed is all the text carries.

#include <cstdint>
#include <string_view>

namespace rio::serial {

// What a control uses until it is told otherwise.
inline constexpr std::string_view kDefaultSettings = " 9600,N,8,1";

// The speed in bits per second. Throws PortError, saying what is wrong, for
// text that is not a blank followed by the decimal speed and ",N,8,1", and for
// a speed that is negative (written with a leading minus), zero or too large
// to hand to a device.
[[nodiscard]] std::int32_t speedFromSettings(std::string_view settings);

} // namespace rio::serial
