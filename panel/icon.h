#pragma once

#include <QIcon>
#include <QImage>

namespace rio::panel {

// The window icon: small computers joined by lines, drawn at 32 x 32 and
// 16 x 16 pixels in 16 colours.
[[nodiscard]] QImage panelIconImage(int size);
// The colours the icon may use.
[[nodiscard]] QList<QRgb> sixteenColours();
[[nodiscard]] QIcon panelIcon();

} // namespace rio::panel
