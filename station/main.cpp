// riostation: the test station of a production line. This file reads the
// command line; answers --help and --version (and a mistake in the options)
// on the console, without a display; finds a display, or says in one line
// that there is none; takes the settings from the options, else from those
// the station last used, else from the settings dialog; and opens the window.

#include "desktop/window_start.h"
#include "station/settings_dialog.h"
#include "station/station_settings.h"
#include "station/station_window.h"
#include "store/store_location.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSettings>

#include <cstdio>
#include <memory>

namespace {

struct CommandLine {
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();
    QCommandLineOption plan{QStringLiteral("plan"),
                            QStringLiteral("The board test plan (an INI file, as riopoll --test "
                                           "reads it)."),
                            QStringLiteral("file")};
    QCommandLineOption device{QStringLiteral("device"),
                              QStringLiteral("The line's serial device, e.g. /dev/ttyUSB0."),
                              QStringLiteral("path")};
    QCommandLineOption port{QStringLiteral("port"),
                            QStringLiteral("The line as a port number in the panel's numbering "
                                           "(riopanel --list-ports), instead of --device."),
                            QStringLiteral("n")};
    QCommandLineOption station{
        QStringLiteral("station"),
        QStringLiteral("The station's name in the store (default: the host's name)."),
        QStringLiteral("name")};
    QCommandLineOption store{
        QStringLiteral("store"),
        QStringLiteral("The results store: default ($XDG_DATA_HOME/riopanel/results.sqlite), "
                       "sqlite:PATH, or a line's server, postgresql://[user@]host[:port]/db "
                       "(runs are kept in the default file first and uploaded; the station "
                       "tests while the server is away)."),
        QStringLiteral("url")};
    QCommandLineOption report{
        QStringLiteral("report"),
        QStringLiteral("Write each test's report (result.json, junit.xml, measurements.csv) "
                       "into a folder under DIR."),
        QStringLiteral("dir")};
    QCommandLineOption screenshot{
        QStringLiteral("screenshot"),
        QStringLiteral("Draw the window (no display needed), save it as PNG and exit; the "
                       "settings are neither asked for nor kept."),
        QStringLiteral("file")};
    QCommandLineOption operatorId{
        QStringLiteral("operator"),
        QStringLiteral("With --screenshot: enter this operator ID first."), QStringLiteral("id")};
    QCommandLineOption scan{
        QStringLiteral("scan"),
        QStringLiteral("With --screenshot and --operator: scan this serial number, test the unit "
                       "on the line (the run is kept in the store as every run is) and picture "
                       "the verdict; exit 0 PASS, 1 FAIL, 2 ERROR."),
        QStringLiteral("serial")};

    CommandLine() {
        parser.setApplicationDescription(
            QStringLiteral("Test station for a production line: scan a board's serial number, "
                           "test it go/no-go against a plan, keep every run in a results "
                           "store.\nWithout options it uses the settings it last used, or asks "
                           "for them."));
        parser.addOptions(
            {plan, device, port, station, store, report, screenshot, operatorId, scan});
    }
};

[[nodiscard]] std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv) {
    CommandLine probe;
    // Options that print and exit need no display; nor does a mistake in them.
    if (!rio::desktop::wantsWindow(argc, argv, probe.parser, [&probe] {
            return probe.parser.isSet(probe.help) || probe.parser.isSet(probe.version);
        }))
        return std::make_unique<QCoreApplication>(argc, argv);
    rio::desktop::offscreenWithoutDisplay(argc, argv, "--screenshot");
    return rio::desktop::startWindowApplication<QApplication>(
        argc, argv,
        {"riostation", "start it in a desktop session or over ssh -X, or use --screenshot FILE, "
                       "which needs no display"});
}

// --screenshot FILE [--operator ID [--scan SERIAL]]: the window as the
// operator would see it, drawn once. Nothing is asked for and the settings
// kept are left as they were: a picture is not a new set-up of the bench.
[[nodiscard]] int takeScreenshot(const CommandLine& commandLine,
                                 const rio::station::StationSettings& settings) {
    const QCommandLineParser& parser = commandLine.parser;
    const bool scanning = parser.isSet(commandLine.scan);
    if (scanning && !parser.isSet(commandLine.operatorId)) {
        std::fprintf(stderr, "riostation: --scan needs --operator: every run names who tested\n");
        return 2;
    }
    if (scanning && !settings.complete()) {
        std::fprintf(stderr, "riostation: --scan needs a plan and a line (--plan, and --device "
                             "or --port)\n");
        return 2;
    }
    rio::station::StationWindow window(settings);
    window.show();
    if (parser.isSet(commandLine.operatorId))
        window.setOperator(parser.value(commandLine.operatorId));
    int status = 0;
    if (scanning) {
        const auto verdict = window.scan(parser.value(commandLine.scan));
        status = !verdict                                    ? 2
                 : *verdict == rio::boardtest::Verdict::Pass ? 0
                 : *verdict == rio::boardtest::Verdict::Fail ? 1
                                                             : 2;
    }
    QApplication::processEvents();
    const QString file = parser.value(commandLine.screenshot);
    if (!window.grab().save(file, "PNG")) {
        std::fprintf(stderr, "riostation: cannot write %s\n", qUtf8Printable(file));
        return 2;
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    const auto app = makeApplication(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("riopanel"));
    QCoreApplication::setApplicationName(QStringLiteral("riostation"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RIOSTATION_VERSION));

    CommandLine commandLine;
    QCommandLineParser& parser = commandLine.parser;
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "riostation: %s\ntry riostation --help\n",
                     qUtf8Printable(parser.errorText().left(200)));
        return 2;
    }
    parser.process(*app); // --help and --version print and exit

    QSettings kept;
    rio::station::StationSettings settings = rio::station::loadSettings(kept);
    if (parser.isSet(commandLine.plan))
        settings.planPath = parser.value(commandLine.plan);
    if (parser.isSet(commandLine.device)) {
        settings.port.device = parser.value(commandLine.device);
        settings.port.number.reset();
    }
    if (parser.isSet(commandLine.port)) {
        bool isNumber = false;
        const int number = parser.value(commandLine.port).toInt(&isNumber);
        if (!isNumber || number < 1) {
            std::fprintf(stderr, "riostation: --port takes a port number from 1\n");
            return 2;
        }
        settings.port.number = number;
        settings.port.device.clear();
    }
    if (parser.isSet(commandLine.station))
        settings.station = parser.value(commandLine.station);
    if (parser.isSet(commandLine.store)) {
        settings.store = parser.value(commandLine.store);
        if (const auto location = rio::store::parseStoreLocation(settings.store);
            !location.location) {
            std::fprintf(stderr, "riostation: --store: %s\n", qUtf8Printable(location.error));
            return 2;
        }
    }
    if (parser.isSet(commandLine.report))
        settings.reportDir = parser.value(commandLine.report);

    if (parser.isSet(commandLine.screenshot))
        return takeScreenshot(commandLine, settings);

    if (!settings.complete()) {
        rio::station::SettingsDialog dialog(settings);
        if (dialog.exec() != QDialog::Accepted)
            return 2;
        settings = dialog.settings();
    }
    rio::station::saveSettings(kept, settings);

    rio::station::StationWindow window(settings);
    window.show();
    return QApplication::exec();
}
