// riopanel: the bench panel for up to three remote I/O boards on one RS-485
// line. This file reads the command line; answers the options that need no
// window (--help, --version, --list-ports, --doctor) on the console; finds a
// display, or says in one line that there is none; and wires the window to a
// port, with the trace file and the line monitor when asked for.

#include "desktop/window_start.h"
#include "panel/form1.h"
#include "protocol/frame_text.h"
#include "serial/device_facts.h"
#include "serial/doctor.h"
#include "serial/port_control.h"
#include "trace/trace_writer.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// The options, built once to decide which kind of application to make and
// again to read them.
struct CommandLine {
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();
    QCommandLineOption helpAll{QStringLiteral("help-all")};
    QCommandLineOption screenshot{
        QStringLiteral("screenshot"),
        QStringLiteral("Save a picture of the window after start-up as PNG and exit."),
        QStringLiteral("file")};
    QCommandLineOption afterMs{
        QStringLiteral("after-ms"),
        QStringLiteral("With --screenshot: press ComPort Initialize and START, let the panel "
                       "run this many milliseconds, then take the picture."),
        QStringLiteral("ms")};
    QCommandLineOption portDevice{
        QStringLiteral("port-device"),
        QStringLiteral("Give port number N the device PATH, e.g. 1=/dev/pts/3 (repeatable); "
                       "wins over the usual numbering."),
        QStringLiteral("N=PATH")};
    QCommandLineOption listPorts{
        QStringLiteral("list-ports"),
        QStringLiteral("Print the port numbering (number, device, description), then each "
                       "port's access for this user (open-ok or no-access), USB vendor:product, "
                       "USB serial number and /dev/serial/by-id name, '-' where there is none, "
                       "and exit.")};
    QCommandLineOption doctor{
        QStringLiteral("doctor"),
        QStringLiteral("Check the line of port N or device PATH (default port 1) end to end, one "
                       "line per check (ok, warn or fail), and exit: 0 when nothing failed, 1 "
                       "when a check failed, 2 when it could not run.")};
    QCommandLineOption trace{
        QStringLiteral("trace"),
        QStringLiteral("Append every frame on the line to FILE as it happens, one CSV row each "
                       "(time,board,address,direction,kind,frame,hex,outcome,response_ms; times "
                       "in UTC). A new file starts with the header row."),
        QStringLiteral("file")};
    QCommandLineOption monitor{
        QStringLiteral("monitor"),
        QStringLiteral("Open the line monitor beside the panel at start (Ctrl+M in the panel "
                       "opens it at any time).")};

    CommandLine() {
        parser.setApplicationDescription(
            QStringLiteral("Bench panel for up to three remote I/O boards on one RS-485 line."));
        parser.addOptions({screenshot, afterMs, portDevice, listPorts, doctor, trace, monitor});
        parser.addPositionalArgument(QStringLiteral("port"),
                                     QStringLiteral("With --doctor: a port number or a device."),
                                     QStringLiteral("[N|PATH]"));
    }

    // Options that print and exit draw nothing, so they need no display.
    [[nodiscard]] bool consoleOnly() const {
        return parser.isSet(help) || parser.isSet(helpAll) || parser.isSet(version) ||
               parser.isSet(listPorts) || parser.isSet(doctor);
    }
};

[[nodiscard]] std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv) {
    CommandLine probe;
    if (!rio::desktop::wantsWindow(argc, argv, probe.parser,
                                   [&probe] { return probe.consoleOnly(); }))
        return std::make_unique<QCoreApplication>(argc, argv);
    rio::desktop::offscreenWithoutDisplay(argc, argv, "--screenshot");
    return rio::desktop::startWindowApplication<QApplication>(
        argc, argv,
        {"riopanel", "start it in a desktop session or over ssh -X, or use --screenshot FILE, "
                     "--list-ports or --doctor, which need no display"});
}

void printPorts(const rio::serial::PortMap& ports) {
    const auto numbering = ports.numbering();
    if (numbering.empty())
        std::printf("no serial devices\n");
    const auto orDash = [](const QString& text) {
        return text.isEmpty() ? QStringLiteral("-") : text;
    };
    for (const rio::serial::NumberedPort& port : numbering) {
        const rio::serial::PortDetails details = rio::serial::portDetails(port.devicePath);
        std::printf(
            "%3d  %-24s %-24s %-9s %-9s %-16s %s\n", port.number, qPrintable(port.devicePath),
            qPrintable(orDash(port.description)), details.userCanOpen ? "open-ok" : "no-access",
            qPrintable(orDash(details.vendorProduct)), qPrintable(orDash(details.serialNumber)),
            qPrintable(orDash(details.stableName)));
    }
}

// --doctor [N|PATH]: a number is a port in the panel's numbering.
[[nodiscard]] int runDoctor(const rio::serial::PortMap& ports, const QStringList& positional) {
    const QString target = positional.value(0, QStringLiteral("1"));
    if (positional.size() > 1) {
        std::fprintf(stderr, "riopanel: --doctor takes one port number or device\n");
        return 2;
    }
    QString path = target;
    bool isNumber = false;
    const int number = target.toInt(&isNumber);
    if (isNumber) {
        const auto device = ports.devicePath(number);
        if (!device) {
            std::fprintf(stderr,
                         "riopanel: --doctor: port %s has no device; riopanel --list-ports "
                         "shows the numbering\n",
                         qPrintable(target));
            return 2;
        }
        path = *device;
    }
    const auto lines = rio::serial::doctorLines(rio::serial::gatherDoctorFacts(path));
    for (const rio::serial::DoctorLine& line : lines)
        std::printf("%s\n", qPrintable(rio::serial::formatDoctorLine(line)));
    return rio::serial::doctorExitCode(lines);
}

} // namespace

int main(int argc, char** argv) {
    const auto app = makeApplication(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("riopanel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RIOPANEL_VERSION));

    CommandLine commandLine;
    QCommandLineParser& parser = commandLine.parser;
    if (!parser.parse(QCoreApplication::arguments())) {
        // The parser's message quotes the option it did not know: shortened
        // and escaped.
        std::fprintf(stderr, "riopanel: %s\n",
                     rio::protocol::excerpt(parser.errorText().toStdString(),
                                            2 * rio::protocol::kExcerptBytes)
                         .c_str());
        return 2;
    }
    // Prints --help, --help-all or --version and exits.
    parser.process(*app);

    rio::serial::PortMap ports;
    for (const QString& text : parser.values(commandLine.portDevice)) {
        try {
            ports.addOverride(rio::serial::parsePortOverride(text));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "riopanel: --port-device %s: %s\n",
                         rio::protocol::excerpt(text.toStdString()).c_str(), error.what());
            return 2;
        }
    }

    if (parser.isSet(commandLine.listPorts)) {
        printPorts(ports);
        return 0;
    }
    if (parser.isSet(commandLine.doctor))
        return runDoctor(ports, parser.positionalArguments());

    // Opened before the window, so a trace that cannot be written stops the
    // program before anything is polled.
    rio::trace::TraceWriter traceWriter;
    const bool tracing = parser.isSet(commandLine.trace);
    if (tracing && !traceWriter.open(parser.value(commandLine.trace))) {
        std::fprintf(stderr, "riopanel: cannot open the trace file %s: %s\n",
                     qPrintable(parser.value(commandLine.trace)), qPrintable(traceWriter.reason()));
        return 2;
    }

    auto control = std::make_unique<rio::serial::PortControl>(ports);
    rio::serial::PortControl* port = control.get();
    rio::panel::Form1 form(std::move(control));
    form.setPortNamer([ports](int number) { return ports.devicePath(number); });
    form.Form_Load();
    if (tracing) {
        form.frameListeners().add(&traceWriter);
        form.lineMonitor().showTrace(&traceWriter);
    }

    if (parser.isSet(commandLine.screenshot)) {
        const QString file = parser.value(commandLine.screenshot);
        form.show();
        QApplication::processEvents();
        // Saved from wherever the event loop is (inside an exchange's wait,
        // say), so the process ends right after.
        auto shoot = [&form, port, file] {
            const bool saved = form.grab().save(file, "PNG");
            if (!saved)
                std::fprintf(stderr, "riopanel: cannot write %s\n", qPrintable(file));
            // Closed before the process ends without unwinding: a device left
            // open in exclusive use stays so while its far end (a simulator)
            // keeps the terminal open.
            port->setPortOpen(false);
            std::fflush(nullptr);
            std::_Exit(saved ? 0 : 1);
        };
        if (!parser.isSet(commandLine.afterMs))
            shoot();
        bool isNumber = false;
        const int ms = parser.value(commandLine.afterMs).toInt(&isNumber);
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
    if (parser.isSet(commandLine.monitor))
        form.openLineMonitor();
    const int status = QApplication::exec();
    form.frameListeners().remove(&traceWriter);
    return status;
}
