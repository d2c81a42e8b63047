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
    const QCommandLineOption afterMs(
        QStringLiteral("after-ms"),
        QStringLiteral("With --screenshot: press ComPort Initialize and START, let the panel "
                       "run this many milliseconds, then take the picture."),
        QStringLiteral("ms"));
    parser.addOption(afterMs);
    const QCommandLineOption portDevice(
        QStringLiteral("port-device"),
        QStringLiteral("Give port number N the device PATH, e.g. 1=/dev/pts/3 (repeatable); "
                       "wins over the usual numbering."),
        QStringLiteral("N=PATH"));
    parser.addOption(portDevice);
    const QCommandLineOption listPorts(
        QStringLiteral("list-ports"),
        QStringLiteral("Print the port numbering (number, device, description) and exit."));
    parser.addOption(listPorts);
    parser.process(app);

    rio::serial::PortMap ports;
    for (const QString& text : parser.values(portDevice)) {
        try {
            ports.addOverride(rio::serial::parsePortOverride(text));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "riopanel: --port-device %s: %s\n", qPrintable(text), error.what());
            return 2;
        }
    }

    if (parser.isSet(listPorts)) {
        const auto numbering = ports.numbering();
        if (numbering.empty())
            std::printf("no serial devices\n");
        for (const rio::serial::NumberedPort& port : numbering)
            std::printf("%3d  %-24s %s\n", port.number, qPrintable(port.devicePath),
                        qPrintable(port.description));
        return 0;
    }

    rio::panel::Form1 form(std::make_unique<rio::serial::QtSerialControl>(ports));
    form.setPortNamer([ports](int number) { return ports.devicePath(number); });
    form.Form_Load();

    if (parser.isSet(screenshot)) {
        const QString file = parser.value(screenshot);
        form.show();
        QApplication::processEvents();
        // Saved from wherever the event loop is (inside an exchange's wait,
        // say), so the process ends right after.
        auto shoot = [&form, file] {
            const bool saved = form.grab().save(file, "PNG");
            if (!saved)
                std::fprintf(stderr, "riopanel: cannot write %s\n", qPrintable(file));
            std::fflush(nullptr);
            std::_Exit(saved ? 0 : 1);
        };
        if (!parser.isSet(afterMs))
            shoot();
        bool isNumber = false;
        const int ms = parser.value(afterMs).toInt(&isNumber);
        if (!isNumber || ms < 0) {
            std::fprintf(stderr, "riopanel: --after-ms takes a number of milliseconds\n");
            return 2;
        }
        form.Command2_Click();
        form.Command5_Click();
        QTimer::singleShot(ms, &form, shoot);
        return QApplication::exec();
    }

    form.show();
    return QApplication::exec();
}
