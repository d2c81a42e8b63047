#pragma once
// Makes the window's controls from their layout rows: labels, boxes, buttons,
// outlines and rules, each with its font, colours and behaviour.

#include "panel/layout.h"

#include <QFont>
#include <QWidget>

namespace rio::panel {

inline constexpr qreal kFontPoints = 9;
inline constexpr qreal kTitlePoints = 14.25;

// The window's font: a Korean gothic at the given size.
[[nodiscard]] QFont panelFont(qreal points, bool bold);

// One control of the layout, placed and named, a child of `parent`.
QWidget* makeControl(const ControlSpec& spec, QWidget* parent);

} // namespace rio::panel
