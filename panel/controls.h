#pragma once
// The few control kinds the window needs beyond Qt's own labels and line
// edits: a button that paints its back colour flat across its face, and the
// outline rectangles and rules of the board panels.

#include "panel/colours.h"

#include <QAbstractButton>
#include <QLine>
#include <QWidget>

namespace rio::panel {

// A push button whose back colour is state the code reads and writes. It
// paints that colour flat, so red is (255, 0, 0) on screen and not a style's
// gradient, and wraps a caption that is wider than the button. With the focus
// it is clicked by Space, Return and the keypad's Enter.
class GraphicButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit GraphicButton(QWidget* parent = nullptr);

    [[nodiscard]] OleColour backColor() const { return m_backColor; }
    void setBackColor(OleColour colour);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    OleColour m_backColor = kButtonFace;
};

// A board outline: a rectangle border in the window-text colour, no fill.
class Shape : public QWidget {
    Q_OBJECT
public:
    Shape(int borderWidth, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_borderWidth;
};

// A straight rule between two points of the window, in pixels.
class Rule : public QWidget {
    Q_OBJECT
public:
    Rule(QLine line, int width, QWidget* parent = nullptr);

    [[nodiscard]] QLine line() const { return m_line; }
    [[nodiscard]] int lineWidth() const { return m_width; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLine m_line;
    int m_width;
};

} // namespace rio::panel
