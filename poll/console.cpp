#include "poll/console.h"

namespace rio::poll {

bool consoleWrite(std::FILE* stream, std::string_view text) {
    // The stream's error indicator stays set once a write failed: a reader
    // that went away does not come back.
    if (consoleClosed(stream))
        return false;
    if (!text.empty())
        std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
    return !consoleClosed(stream);
}

bool consoleClosed(std::FILE* stream) {
    return std::ferror(stream) != 0;
}

} // namespace rio::poll
