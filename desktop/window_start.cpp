#include "desktop/window_start.h"

#include <QCommandLineParser>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace rio::desktop {

namespace {

struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};

// A message handler is a plain function: what it needs lives here while a
// PlatformWatch does.
std::vector<HeldMessage> g_held;
NoDisplayLine g_noDisplayLine;

[[nodiscard]] bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

void whileFindingPlatform(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        // What is missing is read now, from the environment the platform was
        // looked for in.
        std::fprintf(stderr, "%s\n", g_noDisplayLine.text().c_str());
        std::fflush(nullptr);
        std::_Exit(2);
    }
    g_held.push_back({type, QByteArray(context.category ? context.category : ""), text});
}

} // namespace

bool wantsWindow(int argc, char** argv, QCommandLineParser& parser,
                 const std::function<bool()>& consoleOnly) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (parser.parse(arguments))
        return !consoleOnly();
    for (const QString& argument : arguments.mid(1))
        if (argument.size() > 2 && argument.startsWith(QLatin1Char('-')) &&
            argument.at(1) != QLatin1Char('-'))
            return true;
    return false;
}

void offscreenWithoutDisplay(int argc, char** argv, std::string_view option) {
    bool asked = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == option ||
            (argument.starts_with(option) && argument.substr(option.size()).starts_with('=')))
            asked = true;
    }
#ifdef Q_OS_WIN
    // Windows always has its desktop; a picture without it asks with
    // -platform offscreen.
    static_cast<void>(asked);
#else
    if (asked && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
}

std::string missingDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (isSet("QT_QPA_PLATFORM"))
        return std::string("the Qt platform \"") + platform + "\" (QT_QPA_PLATFORM) did not start";
    if (isSet("DISPLAY") || isSet("WAYLAND_DISPLAY"))
        return std::string("no display answers at ") +
               (isSet("DISPLAY") ? std::string("DISPLAY=") + x : std::string()) +
               (isSet("DISPLAY") && isSet("WAYLAND_DISPLAY") ? " or " : "") +
               (isSet("WAYLAND_DISPLAY") ? std::string("WAYLAND_DISPLAY=") + wayland
                                         : std::string());
    return "no display (DISPLAY and WAYLAND_DISPLAY are not set)";
}

std::string NoDisplayLine::text() const {
    return program + ": cannot open the window: " + missingDisplay() + "; " + advice;
}

PlatformWatch::PlatformWatch(NoDisplayLine line) {
    g_noDisplayLine = std::move(line);
    m_previous = qInstallMessageHandler(whileFindingPlatform);
}

PlatformWatch::~PlatformWatch() {
    qInstallMessageHandler(m_previous);
    for (const HeldMessage& message : g_held) {
        const QMessageLogContext context(nullptr, 0, nullptr, message.category.constData());
        if (m_previous)
            m_previous(message.type, context, message.text);
        else
            std::fprintf(stderr, "%s\n", qPrintable(message.text));
    }
    g_held.clear();
}

} // namespace rio::desktop
