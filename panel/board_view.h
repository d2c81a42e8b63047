#pragma once
// A board's controls as the exchanges see them: through its binding.

#include "exchange/exchange_board.h"
#include "panel/board_binding.h"

namespace rio::panel {

class BoardView : public exchange::BoardDisplay {
public:
    explicit BoardView(const BoardBinding& binding) : m_binding(binding) {}

    void setStatus(const QString& text) override;
    void showReadRequest(std::string_view frame) override;
    void showReadReply(std::string_view frame) override;
    void showWriteRequest(std::string_view frame) override;
    void showWriteReply(std::string_view frame) override;
    void showAnalog1(const QString& text) override;
    void showAnalog2(const QString& text) override;
    void setIndicator(int k, bool lit) override;

private:
    const BoardBinding& m_binding;
};

// The most bytes of one frame a box shows. Every frame of the protocol is at
// most 21 bytes; a write reply is accepted at its ETX whatever follows, so a
// board that floods the line after its ETX could otherwise put a long run of
// bytes (tens of kilobytes in one read) into a one-line box, whose layout and
// painting would hold up the window on every poll.
inline constexpr std::size_t kFrameShown = 256;

// A frame's bytes as text, one character per byte; a byte above 0x7F shows
// as the Latin-1 character of the same code, and control bytes are kept. A
// frame longer than kFrameShown shows its first kFrameShown bytes and then
// an ellipsis (U+2026), a character no byte shows as, so a cut frame cannot
// pass for a whole one.
[[nodiscard]] QString frameText(std::string_view frame);

} // namespace rio::panel
