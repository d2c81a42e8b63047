#pragma once
// Starting a program's window. Qt ends a GUI that finds no platform (no
// display, or one that does not answer) with a fatal message and an abort;
// a program here instead says in one line on standard error what is missing
// and ends as a program that could not run, with exit status 2.
//
//   if (!rio::desktop::wantsWindow(argc, argv, parser, consoleOnly))
//       ... QCoreApplication ...
//   rio::desktop::offscreenWithoutDisplay(argc, argv, "--screenshot");
//   auto app = rio::desktop::startWindowApplication<QApplication>(argc, argv, line);

#include <QGuiApplication>

#include <concepts>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class QCommandLineParser;

namespace rio::desktop {

// Decided from the raw arguments, before any application exists: options that
// print and exit (consoleOnly, asked after the parse) draw nothing. Arguments that
// do not parse go to the console too, so the mistake is reported rather than
// the missing display; only Qt's own single-dash GUI options (-platform,
// -display, ...) are left to the GUI application to take.
[[nodiscard]] bool wantsWindow(int argc, char** argv, QCommandLineParser& parser,
                               const std::function<bool()>& consoleOnly);

// With nothing to draw on (neither display nor platform named) a picture of
// the window can still be drawn on the offscreen platform: chosen when
// `option` ("--screenshot") is among the arguments, alone or as option=value.
void offscreenWithoutDisplay(int argc, char** argv, std::string_view option);

// What is missing for a window, e.g. "no display (DISPLAY and WAYLAND_DISPLAY
// are not set)", read from the environment.
[[nodiscard]] std::string missingDisplay();

// The line a program prints when its window cannot open:
// "<program>: cannot open the window: <what is missing>; <advice>".
struct NoDisplayLine {
    std::string program;
    std::string advice;
    [[nodiscard]] std::string text() const;
};

// While it lives, Qt's messages are held; a fatal one (no platform) prints
// the line and ends the process with status 2. At its end the held messages
// go to the handler that was installed before.
class PlatformWatch {
public:
    explicit PlatformWatch(NoDisplayLine line);
    ~PlatformWatch();
    PlatformWatch(const PlatformWatch&) = delete;
    PlatformWatch& operator=(const PlatformWatch&) = delete;

private:
    QtMessageHandler m_previous = nullptr;
};

template <std::derived_from<QGuiApplication> Application>
[[nodiscard]] std::unique_ptr<Application> startWindowApplication(int& argc, char** argv,
                                                                  NoDisplayLine line) {
    const PlatformWatch watch(std::move(line));
    return std::make_unique<Application>(argc, argv);
}

} // namespace rio::desktop
