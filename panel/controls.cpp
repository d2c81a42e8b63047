#include "panel/controls.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <qdrawutil.h>

namespace rio::panel {

GraphicButton::GraphicButton(QWidget* parent) : QAbstractButton(parent) {}

void GraphicButton::setBackColor(OleColour colour) {
    if (colour == m_backColor)
        return;
    m_backColor = colour;
    update();
}

void GraphicButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QBrush face(toQColor(m_backColor, palette()));
    qDrawWinButton(&painter, rect(), palette(), isDown(), &face);

    // The caption sits a pixel lower and to the right while the button is
    // held down, as a pressed button's face does.
    QRect textArea = rect().adjusted(3, 2, -3, -2);
    if (isDown())
        textArea.translate(1, 1);
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.setFont(font());
    painter.drawText(textArea, Qt::AlignCenter | Qt::TextWordWrap, text());

    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(3, 3, -3, -3);
        option.backgroundColor = face.color();
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void GraphicButton::keyPressEvent(QKeyEvent* event) {
    // Qt's own buttons click on Space only; Return and the keypad's Enter
    // (Key_Enter) click at once, once per press however long it is held.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

Shape::Shape(int borderWidth, QWidget* parent) : QWidget(parent), m_borderWidth(borderWidth) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Shape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor ink = palette().color(QPalette::WindowText);
    // The border lies inside the rectangle, so its outer edge is the outline.
    painter.setPen(ink);
    for (int i = 0; i < m_borderWidth; ++i)
        painter.drawRect(rect().adjusted(i, i, -1 - i, -1 - i));
}

namespace {

// The widget covers the rule's bounding box, thickened to the rule's width.
QRect ruleBox(QLine line, int width) {
    const int before = width / 2;
    QRect box = QRect(line.p1(), line.p2()).normalized();
    if (line.dy() == 0)
        return box.adjusted(0, -before, 0, width - 1 - before);
    return box.adjusted(-before, 0, width - 1 - before, 0);
}

} // namespace

Rule::Rule(QLine line, int width, QWidget* parent) : QWidget(parent), m_line(line), m_width(width) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(ruleBox(line, width));
}

void Rule::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::WindowText));
}

} // namespace rio::panel
