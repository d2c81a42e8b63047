// riopanel: the bench panel for up to three remote I/O boards on one RS-485
// line. This file only reads the command line and wires the window to a port.

#include "form1.h"
#include "qt_serial_control.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

// With nothing to draw on (no display at all) a screenshot still works on the
// offscreen platform.
void chooseOffscreenWithoutDisplay(int argc, char** argv) {
    bool screenshot = false;
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "--screenshot" ||
            std::string_view(argv[i]).starts_with("--screenshot="))
            screenshot = true;
    if (screenshot && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

} // namespace

int main(int argc, char** argv) {
    chooseOffscreenWithoutDisplay(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("riopanel"));
    QApplication::setApplicationVersion(QStringLiteral(RIOPANEL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Bench panel for up to three remote I/O boards on one RS-485 line."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Save a picture of the window after start-up as PNG and exit."),
        QStringLiteral("file"));
    parser.addOption(screenshot);
    parser.process(app);

    rio::panel::Form1 form(std::make_unique<rio::serial::QtSerialControl>());
    form.Form_Load();

    if (parser.isSet(screenshot)) {
        form.show();
        QApplication::processEvents();
        const QString file = parser.value(screenshot);
        if (!form.grab().save(file, "PNG")) {
            std::fprintf(stderr, "riopanel: cannot write %s\n", qPrintable(file));
            return 1;
        }
        return 0;
    }

    form.show();
    return QApplication::exec();
}
