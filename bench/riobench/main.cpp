// riobench: how close riopanel comes to the limit the serial line sets, and a
// naive wait loop beside it. `riobench` prints the table, `--json` the same as
// JSON, `--quick` takes every figure with tiny samples in a few seconds.

#include "bench/riobench/bench_report.h"
#include "bench/riobench/workers.h"

#include <QApplication>
#include <QJsonDocument>

#include <cstdio>
#include <exception>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void usage() {
    std::puts("usage: riobench [--quick] [--json] [--riosim PATH]\n"
              "Runs riopanel's window against the board simulator and prints each figure\n"
              "beside its goal and beside a naive wait loop.\n"
              "  --quick        every figure with tiny samples, a few seconds; no goal judged\n"
              "  --json         the results as JSON instead of the table\n"
              "  --riosim PATH  the simulator program (default: the one built with riobench)");
}

} // namespace

int main(int argc, char** argv) {
    // The window is always drawn offscreen, so runs compare across machines
    // with and without a display. Set before any Qt application exists.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt wants a private runtime folder and warns in every worker without one.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QByteArray dir = "/tmp/riobench-runtime-" + QByteArray::number(getuid());
        ::mkdir(dir.constData(), 0700);
        qputenv("XDG_RUNTIME_DIR", dir);
    }

    if (argc >= 3 && std::string_view(argv[1]) == "--worker") {
        QApplication app(argc, argv);
        rio::bench::Params params;
        for (int i = 3; i < argc; ++i) {
            const QString arg = QString::fromLocal8Bit(argv[i]);
            const qsizetype eq = arg.indexOf(QLatin1Char('='));
            if (eq > 0)
                params.insert(arg.left(eq), arg.mid(eq + 1));
        }
        try {
            const QJsonObject result =
                rio::bench::runWorker(QString::fromLocal8Bit(argv[2]), params);
            std::printf("%s%s\n", rio::bench::kResultPrefix,
                        QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
            std::fflush(stdout);
            return 0;
        } catch (const std::exception& error) {
            std::fprintf(stderr, "riobench: worker %s failed: %s\n", argv[2], error.what());
            return 1;
        }
    }

    QCoreApplication app(argc, argv);
    rio::bench::RunSettings settings;
    settings.self = QCoreApplication::applicationFilePath();
    settings.riosim = QStringLiteral(RIOSIM_PATH);
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--quick") {
            settings.quick = true;
        } else if (arg == "--json") {
            settings.json = true;
        } else if (arg == "--riosim" && i + 1 < argc) {
            settings.riosim = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == "--help" || arg == "-h") {
            usage();
            return 0;
        } else {
            std::fprintf(stderr, "riobench: unknown argument %s\n", argv[i]);
            usage();
            return 2;
        }
    }
    return rio::bench::runBenchmark(settings);
}
