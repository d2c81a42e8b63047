#pragma once
// A board's controls as the exchanges see them: through its binding.

#include "board.h"
#include "board_binding.h"

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

// A frame's bytes as text, one character per byte; a byte above 0x7F shows
// as the Latin-1 character of the same code, and control bytes are kept.
[[nodiscard]] QString frameText(std::string_view frame);

} // namespace rio::panel
