// riopoll: polls the boards of one line without a window, or tests one board
// go/no-go against a plan. This file only reads the command line and hands
// over; see program.h.

#include "poll/poll_options.h"
#include "poll/program.h"
#include "poll/stop_signals.h"
#include "poll/store_query.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    // A reader that went away (a pipe into `head`, a closed terminal) makes a
    // write fail instead of killing the program, perhaps with outputs on; see
    // console.h.
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("riopoll"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RIOPOLL_VERSION));
    // riopoll reports every exchange, and why a port failed, itself; the
    // exchanges' and the port's own messages would say it twice on standard
    // error. Their debug detail stays available: QT_LOGGING_RULES wins over
    // these rules.
    QLoggingCategory::setFilterRules(QStringLiteral("rio.exchange.info=false\n"
                                                    "rio.exchange.warning=false\n"
                                                    "rio.serial.info=false\n"
                                                    "rio.serial.warning=false"));

    if (rio::poll::isStoreQuery(QCoreApplication::arguments()))
        return rio::poll::runStoreQuery(QCoreApplication::arguments());
    const rio::poll::ParsedOptions parsed = rio::poll::parseOptions(QCoreApplication::arguments());
    if (!parsed.options) {
        if (parsed.error.isEmpty()) {
            std::fputs(qUtf8Printable(parsed.text), stdout);
            return 0;
        }
        std::fprintf(stderr, "riopoll: %s\ntry riopoll --help\n", qUtf8Printable(parsed.error));
        return 2;
    }
    rio::poll::StopSignals stop;
    return parsed.options->test ? rio::poll::runBoardTest(*parsed.options, stop)
                                : rio::poll::runPolling(*parsed.options, stop);
}
