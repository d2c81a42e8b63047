#pragma once
// The panel's end of the line for the simulator tests: the slave side of the
// pseudo-terminal opened with plain POSIX calls, raw, and read with a deadline
// so a reply that never comes fails the test instead of hanging it.

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <termios.h>
#include <unistd.h>

namespace simtest {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline constexpr char kEnq = 0x05, kEot = 0x04, kAck = 0x06, kEtx = 0x03;
inline const std::string enq(1, kEnq), eot(1, kEot), ack(1, kAck), etx(1, kEtx);

// Long enough for any reply in these tests on a busy machine; only reached
// when something is wrong.
inline constexpr auto kPatience = 3s;

class LinePort {
public:
    explicit LinePort(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        termios attrs{};
        if (m_fd >= 0 && ::tcgetattr(m_fd, &attrs) == 0) {
            ::cfmakeraw(&attrs);
            ::tcsetattr(m_fd, TCSANOW, &attrs);
        }
    }
    // Takes over a descriptor that is already open, such as a master side.
    explicit LinePort(int fd) : m_fd(fd) {}
    ~LinePort() { close(); }
    LinePort(const LinePort&) = delete;
    LinePort& operator=(const LinePort&) = delete;

    [[nodiscard]] bool isOpen() const { return m_fd >= 0; }
    [[nodiscard]] int fd() const { return m_fd; }
    void close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    [[nodiscard]] bool send(std::string_view bytes) {
        return ::write(m_fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Bytes until `count` have come or `limit` has passed. One byte a read,
    // so nothing past the wanted end is taken off the line.
    [[nodiscard]] std::string receive(std::size_t count,
                                      std::chrono::milliseconds limit = kPatience) {
        const auto deadline = Clock::now() + limit;
        std::string got;
        while (got.size() < count && Clock::now() < deadline) {
            pollfd pfd{m_fd, POLLIN, 0};
            if (::poll(&pfd, 1, 50) <= 0)
                continue;
            char byte = 0;
            if (::read(m_fd, &byte, 1) != 1) {
                if (pfd.revents & (POLLHUP | POLLERR))
                    break;
                continue;
            }
            lastByteAt = Clock::now();
            if (got.empty())
                firstByteAt = lastByteAt;
            got += byte;
        }
        return got;
    }

    // When the first and the last byte of the latest receive() came in.
    Clock::time_point firstByteAt{};
    Clock::time_point lastByteAt{};

private:
    int m_fd = -1;
};

} // namespace simtest
