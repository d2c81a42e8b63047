#include "panel/board_view.h"

#include "panel/colours.h"

namespace rio::panel {

namespace {

// Unchanged texts are left alone, so a steady board causes no relayout. A
// frame longer than its box shows from its first byte, as it went on the line.
void show(QLineEdit* box, const QString& text) {
    if (box->text() == text)
        return;
    box->setText(text);
    box->setCursorPosition(0);
}

} // namespace

QString frameText(std::string_view frame) {
    if (frame.size() <= kFrameShown)
        return QString::fromLatin1(frame.data(), qsizetype(frame.size()));
    return QString::fromLatin1(frame.data(), qsizetype(kFrameShown)) + QChar(0x2026);
}

void BoardView::setStatus(const QString& text) {
    m_binding.status->setText(text);
}
void BoardView::showReadRequest(std::string_view f) {
    show(m_binding.readRequest, frameText(f));
}
void BoardView::showReadReply(std::string_view f) {
    show(m_binding.readReply, frameText(f));
}
void BoardView::showWriteRequest(std::string_view f) {
    show(m_binding.writeRequest, frameText(f));
}
void BoardView::showWriteReply(std::string_view f) {
    show(m_binding.writeReply, frameText(f));
}
void BoardView::showAnalog1(const QString& text) {
    show(m_binding.analog1, text);
}
void BoardView::showAnalog2(const QString& text) {
    show(m_binding.analog2, text);
}

void BoardView::setIndicator(int k, bool lit) {
    m_binding.inputs[std::size_t(k)]->setBackColor(lit ? kRed : kButtonFace);
}

} // namespace rio::panel
