#pragma once
// The environment of a program started as if no display were there: DISPLAY,
// WAYLAND_DISPLAY and QT_QPA_PLATFORM removed, then `display` set as DISPLAY
// when given (a display that does not answer). Header-only.

#include <QProcessEnvironment>
#include <QString>

namespace rio::test {

inline QProcessEnvironment environmentWithoutDisplay(const QString& display = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    if (!display.isEmpty())
        env.insert(QStringLiteral("DISPLAY"), display);
    return env;
}

} // namespace rio::test
