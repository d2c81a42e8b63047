#include "panel/icon.h"

#include <QPainter>

namespace rio::panel {

// The sixteen colours of the classic desktop palette.
QList<QRgb> sixteenColours() {
    return {qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
            qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
            qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
            qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
}

namespace {

// One computer: a grey monitor with a cyan screen on a small stand, in a box
// of w x h pixels at (x, y).
void drawComputer(QPainter& painter, int x, int y, int w, int h) {
    const int standHeight = std::max(1, h / 5);
    const QRect monitor(x, y, w, h - standHeight);
    painter.fillRect(monitor, QColor(0, 0, 0));
    painter.fillRect(monitor.adjusted(1, 1, -1, -1), QColor(192, 192, 192));
    painter.fillRect(monitor.adjusted(2, 2, -2, -2), QColor(0, 128, 128));
    painter.fillRect(QRect(x + w / 2 - 1, y + h - standHeight, 2, standHeight), QColor(0, 0, 0));
}

} // namespace

QImage panelIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        const int unit = size / 16; // 1 at 16 px, 2 at 32 px
        const int cw = 6 * unit, ch = 5 * unit;
        // One computer at the top centre, two below, joined through a bus line.
        const QPoint top(size / 2 - cw / 2, 0);
        const QPoint left(0, size - ch - unit);
        const QPoint right(size - cw, size - ch - unit);
        const int busY = size / 2;
        const QColor wire(0, 0, 128);
        painter.fillRect(QRect(cw / 2, busY, size - cw, unit), wire);
        painter.fillRect(QRect(size / 2 - unit / 2, ch, unit, busY - ch), wire);
        painter.fillRect(QRect(cw / 2 - unit / 2, busY, unit, left.y() - busY), wire);
        painter.fillRect(QRect(size - cw / 2 - unit / 2, busY, unit, right.y() - busY), wire);
        drawComputer(painter, top.x(), top.y(), cw, ch);
        drawComputer(painter, left.x(), left.y(), cw, ch);
        drawComputer(painter, right.x(), right.y(), cw, ch);
    }
    // Sixteen colours plus a transparency mask, as a classic icon has.
    QImage indexed =
        image.convertToFormat(QImage::Format_Indexed8, sixteenColours(), Qt::ThresholdDither);
    QImage icon = indexed.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            if (qAlpha(image.pixel(x, y)) == 0)
                icon.setPixel(x, y, qRgba(0, 0, 0, 0));
    return icon;
}

QIcon panelIcon() {
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(panelIconImage(32)));
    icon.addPixmap(QPixmap::fromImage(panelIconImage(16)));
    return icon;
}

} // namespace rio::panel
