// The settings-text parser on any text: either a speed above zero that
// writes back to the same text, or PortError; nothing else escapes.

#include "fuzz/require.h"
#include "serial/serial_control.h"
#include "serial/settings_text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using rio::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string settings(reinterpret_cast<const char*>(data), size);
    try {
        const std::int32_t speed = rio::serial::speedFromSettings(settings);
        require(speed > 0);
        // Leading zeros are taken, so compare through a second parse.
        const std::string again = " " + std::to_string(speed) + ",N,8,1";
        require(rio::serial::speedFromSettings(again) == speed);
        require(settings.ends_with(",N,8,1") && settings.front() == ' ');
    } catch (const rio::serial::PortError&) {
    }
    return 0;
}
