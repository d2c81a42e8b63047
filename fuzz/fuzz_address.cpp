// The address rule on any box text, and requests built from any address:
// always two address bytes, always requests of their fixed length.

#include "fuzz/require.h"
#include "protocol/frames.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace rio::protocol;

using rio::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The input as code points, four bytes each: any value, surrogates and
    // values past U+10FFFF included, as a broken input method might deliver.
    std::u32string text(size / 4, U'\0');
    std::memcpy(text.data(), data, text.size() * 4);
    const BoardAddr addr = addressRule(text);
    require(addr.size() == 2);
    for (std::size_t i = 0; i < 2; ++i) {
        const std::size_t from = text.size() + i;
        const char32_t c = from >= 2 ? text[from - 2] : U'0';
        require(addr[i] == (c <= 0xFF ? static_cast<char>(c) : '?'));
    }

    // Requests from the raw bytes as an address of any length.
    const std::string raw(reinterpret_cast<const char*>(data), size);
    const std::string read = buildReadRequest(raw);
    require(read.size() == kReadRequestLength && read.front() == ENQ && read.back() == EOT);
    Bits states{};
    for (std::size_t k = 0; k < states.size(); ++k)
        states[k] = k < size ? raw[k] : '0';
    const std::string write = buildWriteRequest(raw, states);
    require(write.size() == kWriteRequestLength && write.front() == ENQ && write.back() == EOT);
    return 0;
}
