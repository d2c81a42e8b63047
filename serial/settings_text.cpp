// The port settings text; see settings_text.h.
#include "serial/settings_text.h"

#include "serial/serial_control.h"

#include <limits>
#include <string>

namespace rio::serial {

namespace {

constexpr std::string_view kLineFormat = ",N,8,1";

[[noreturn]] void refuse(std::string_view settings, std::string_view why) {
    throw PortError("settings \"" + std::string(settings) + "\" refused: " + std::string(why));
}

} // namespace

std::int32_t speedFromSettings(std::string_view settings) {
    constexpr std::string_view kForm =
        "expected a blank, the speed and \",N,8,1\", as \" 9600,N,8,1\"";
    if (settings.size() < 1 + 1 + kLineFormat.size()) {
        refuse(settings, kForm);
    }
    const char sign = settings.front();
    if (sign != ' ' && sign != '-') {
        refuse(settings, kForm);
    }
    const std::string_view digits = settings.substr(1, settings.size() - 1 - kLineFormat.size());
    if (!settings.ends_with(kLineFormat) || digits.empty()) {
        refuse(settings, kForm);
    }

    // Accumulated wider than the result so that an overlong number is caught
    // rather than wrapped.
    std::int64_t speed = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            refuse(settings, kForm);
        }
        speed = speed * 10 + (c - '0');
        if (speed > std::numeric_limits<std::int32_t>::max()) {
            refuse(settings, "the speed is too large");
        }
    }
    if (sign == '-' || speed == 0) {
        refuse(settings, "the speed must be above zero");
    }
    return static_cast<std::int32_t>(speed);
}

std::string settingsText(std::int32_t speed) {
    std::string text = speed < 0 ? "-" : " ";
    // Widened first: the most negative speed has no positive int32 twin.
    text += std::to_string(speed < 0 ? -static_cast<std::int64_t>(speed) : speed);
    text += kLineFormat;
    return text;
}

} // namespace rio::serial
