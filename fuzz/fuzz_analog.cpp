// The analog display text on any field: a number comes out in plain decimal
// notation, and reading it back gives the same number.

#include "fuzz/require.h"
#include "protocol/frames.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace rio::protocol;

using rio::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string field(reinterpret_cast<const char*>(data), size);
    const std::optional<std::string> text = analogDisplayText(field);
    if (!text)
        return 0;
    require(!text->empty());
    for (const char c : *text)
        require((c >= '0' && c <= '9') || c == '-' || c == '.');
    // Shown again, the text gives itself: it is a fixed point of the rule.
    require(analogDisplayText(*text) == text);
    return 0;
}
