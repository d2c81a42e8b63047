// riosim: the board simulator as a program, for running the panel by hand or
// from scripts against boards that misbehave on request.

#include "sim/sim_options.h"
#include "sim/simulator.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <exception>
#include <mutex>

namespace {

std::mutex stdoutMutex;

void printLine(const std::string& line) {
    std::lock_guard lock(stdoutMutex);
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const auto parsed = rio::sim::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::fprintf(stderr, "riosim: %s\ntry riosim --help\n", parsed.error.c_str());
        return 2;
    }
    const auto& options = *parsed.options;
    if (options.help) {
        std::fputs(rio::sim::usageText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("riosim %s\n", RIOSIM_VERSION);
        return 0;
    }

    // Blocked before the serving thread exists so that only sigtimedwait below
    // sees them and the simulator can be stopped properly.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP); // the terminal it ran in went away
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        rio::sim::Simulator simulator(options.config);
        if (options.log)
            simulator.setLogSink(printLine);
        {
            // The ready line must come first, before any log line a quick
            // panel could cause on a device.
            std::lock_guard lock(stdoutMutex);
            std::string path = options.device;
            if (path.empty())
                path = simulator.start();
            else
                simulator.startOnDevice(path, options.deviceBaud);
            std::printf("riosim: line ready at %s\n", path.c_str());
            std::fflush(stdout);
        }
        // Polled now and then so a device that goes away ends the program too.
        constexpr auto kCheck = std::chrono::milliseconds(200);
        const timespec check{0, std::chrono::nanoseconds(kCheck).count()};
        while (simulator.serving()) {
            if (sigtimedwait(&stopSignals, nullptr, &check) > 0) {
                simulator.stop();
                return 0;
            }
        }
        std::fprintf(stderr, "riosim: the line was lost\n");
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "riosim: %s\n", e.what());
        return 1;
    }
}
