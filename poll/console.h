#pragma once
// Writing to standard output and error when nobody may be listening any more:
// the reader of a pipe gone (`riopoll … | head`), a terminal hung up. riopoll
// ignores SIGPIPE, so such a write fails instead of killing the program in the
// middle of a step with outputs on; the stream is then left alone for good and
// the work goes on to its own end.

#include <cstdio>
#include <string_view>

namespace rio::poll {

// Writes and flushes `text`. False when the stream has failed, now or
// earlier: nothing more is written to it.
bool consoleWrite(std::FILE* stream, std::string_view text);

// True once a write to the stream has failed.
[[nodiscard]] bool consoleClosed(std::FILE* stream);

} // namespace rio::poll
