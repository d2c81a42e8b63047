// The line as fast as anything can use it: a board's read and write
// exchanges back to back with nothing but blocking write() and read(), no
// event loop, no display, no trace. Against the board simulator, what its
// exchanges take beyond the 26 bytes' line time is the simulator's real
// turnaround: its own reaction plus the pseudo-terminal's delivery both
// ways, which no client can beat. bench/poll_throughput.sh counts it in the
// line's limit beside the configured turnaround.
//
// usage: line_client DEVICE SPEED SECONDS [ADDRESS]
// prints: exchanges, seconds, exchanges per second, and the mean and 95th
// percentile turnaround in milliseconds, one line, separated by spaces. The
// mean is the one a rate is made of.
#include "protocol/frames.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int fail(const char* what) {
    std::fprintf(stderr, "line_client: %s: %s\n", what, std::strerror(errno));
    return 2;
}

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

// Reads until the reply's ETX; false when the line gives nothing for a second.
bool readReply(int fd) {
    std::string reply;
    while (!rio::protocol::replyComplete(reply)) {
        char buffer[64];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        reply.append(buffer, std::size_t(n));
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5) {
        std::fprintf(stderr, "usage: line_client DEVICE SPEED SECONDS [ADDRESS]\n");
        return 2;
    }
    const long speed = std::atol(argv[2]);
    const double seconds = std::atof(argv[3]);
    const std::string address = argc == 5 ? argv[4] : "01";
    if (speed <= 0 || seconds <= 0 || address.size() != 2) {
        std::fprintf(stderr,
                     "line_client: SPEED and SECONDS must be positive, ADDRESS two characters\n");
        return 2;
    }
    const int fd = ::open(argv[1], O_RDWR | O_NOCTTY);
    if (fd < 0)
        return fail(argv[1]);
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&settings);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 10; // a read gives up after a second of silence
    if (::tcsetattr(fd, TCSANOW, &settings) != 0)
        return fail("tcsetattr");

    rio::protocol::Bits allOff;
    allOff.fill('0');
    const std::string requests[] = {rio::protocol::buildReadRequest(address),
                                    rio::protocol::buildWriteRequest(address, allOff)};
    const double lineMs = 26.0 * 10 * 1000 / double(speed);
    std::vector<double> turnarounds;
    const auto began = Clock::now();
    const auto end = began + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        for (const std::string& request : requests) {
            const auto sent = Clock::now();
            if (!writeAll(fd, request))
                return fail("write");
            if (!readReply(fd)) {
                std::fprintf(stderr, "line_client: no reply from %s\n", address.c_str());
                return 1;
            }
            const std::chrono::duration<double, std::milli> took = Clock::now() - sent;
            turnarounds.push_back(took.count() - lineMs);
        }
    }
    const double took = std::chrono::duration<double>(Clock::now() - began).count();
    if (turnarounds.empty())
        return 2;
    std::sort(turnarounds.begin(), turnarounds.end());
    const auto at = [&](double share) {
        return turnarounds[std::min(turnarounds.size() - 1,
                                    std::size_t(share * double(turnarounds.size())))];
    };
    std::printf(
        "%zu %.3f %.1f %.3f %.3f\n", turnarounds.size(), took, double(turnarounds.size()) / took,
        std::accumulate(turnarounds.begin(), turnarounds.end(), 0.0) / double(turnarounds.size()),
        at(0.95));
    return 0;
}
