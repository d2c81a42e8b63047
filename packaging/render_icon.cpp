// rio_render_icon SIZE FILE: writes the window's icon, drawn at SIZE x SIZE
// pixels, as PNG, for the desktop's icon theme. The drawing itself stays in
// panel/icon.cpp, so the theme's icon is always the window's.

#include "panel/icon.h"

#include <QGuiApplication>
#include <QImage>
#include <QStringList>

#include <cstdio>

int main(int argc, char** argv) {
    // A build machine has no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 2 && (qstrcmp(argv[1], "--help") == 0 || qstrcmp(argv[1], "-h") == 0)) {
        std::printf("usage: rio_render_icon SIZE FILE\n");
        return 0;
    }
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: rio_render_icon SIZE FILE\n");
        return 2;
    }
    // The drawing is laid out in sixteenths of its size; other sizes would
    // leave a part of a pixel at the edges.
    bool number = false;
    const int size = args[1].toInt(&number);
    if (!number || size < 16 || size % 16 != 0) {
        std::fprintf(stderr, "rio_render_icon: size %s is not a multiple of 16 pixels\n",
                     qPrintable(args[1]));
        return 2;
    }
    if (!rio::panel::panelIconImage(size).save(args[2], "PNG")) {
        std::fprintf(stderr, "rio_render_icon: cannot write %s\n", qPrintable(args[2]));
        return 2;
    }
    return 0;
}
