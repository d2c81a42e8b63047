#include "sim/simulator.h"

#include "sim/log_line.h"
#include "sim/request_parser.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace rio::sim {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr std::size_t kMaxBoards = 3;
constexpr int kBitsPerByte = 10; // start bit, eight data bits, stop bit
// Bytes due within this much of each other go out in one write, so a fast
// line does not wake the thread for every byte.
constexpr auto kBatch = 1ms;
constexpr std::size_t kReadChunk = 4096;

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void makeRaw(int fd, const std::string& what, std::optional<speed_t> speed) {
    termios attrs{};
    if (::tcgetattr(fd, &attrs) != 0)
        fail(what + ": cannot read line settings");
    ::cfmakeraw(&attrs);
    // 8N1, no flow control, and the modem lines ignored: a board line has none.
    attrs.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CSIZE | CRTSCTS);
    attrs.c_cflag |= CS8 | CLOCAL | CREAD;
    attrs.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    attrs.c_cc[VMIN] = 1;
    attrs.c_cc[VTIME] = 0;
    if (speed && ::cfsetspeed(&attrs, *speed) != 0)
        fail(what + ": speed refused");
    if (::tcsetattr(fd, TCSANOW, &attrs) != 0)
        fail(what + ": cannot set line settings");
}

std::optional<speed_t> speedFor(int baud) {
    static constexpr std::pair<int, speed_t> kSpeeds[] = {
        {300, B300},     {600, B600},       {1200, B1200},     {2400, B2400},
        {4800, B4800},   {9600, B9600},     {19200, B19200},   {38400, B38400},
        {57600, B57600}, {115200, B115200}, {230400, B230400},
    };
    for (const auto& [rate, speed] : kSpeeds) {
        if (rate == baud)
            return speed;
    }
    return std::nullopt;
}

void addWakePipe(int& readEnd, int& writeEnd) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        fail("cannot make a wake-up pipe");
    readEnd = ends[0];
    writeEnd = ends[1];
}

// What was taken off the line, waiting for its emulated arrival time: a
// request, or bytes no board takes (kept in line order for the log).
struct Incoming {
    Clock::time_point arrival;
    std::optional<Request> request;
    std::string ignored;
};

// A reply waiting to take the line, or on it.
struct Outgoing {
    Clock::time_point ready; // when the first chunk may begin
    std::string address;
    Reply reply;
    std::string bytes;                  // set once on the line
    std::vector<Clock::time_point> due; // when each byte has fully left
    std::size_t sent = 0;
};

} // namespace

std::vector<BoardConfig> SimConfig::defaultBoards() {
    std::vector<BoardConfig> boards(3);
    boards[0].address = "01";
    boards[1].address = "02";
    boards[2].address = "03";
    return boards;
}

Simulator::Simulator(SimConfig config) : m_config(std::move(config)), m_began(Clock::now()) {
    if (m_config.boards.size() > kMaxBoards)
        throw std::invalid_argument("at most three boards share a line");
    if (m_config.baud < 0)
        throw std::invalid_argument("baud must not be negative");
    if (m_config.turnaround < std::chrono::milliseconds(0) || m_config.turnaround > kLongestWait)
        throw std::invalid_argument("the turnaround is from 0 to a year");
    for (const auto& boardConfig : m_config.boards) {
        for (const auto& other : m_boards) {
            if (other.address() == boardConfig.address)
                throw std::invalid_argument("two boards with address " + boardConfig.address);
        }
        m_boards.emplace_back(boardConfig);
    }
}

Simulator::~Simulator() {
    hangUp();
}

void Simulator::setLogSink(std::function<void(const std::string&)> sink) {
    std::lock_guard lock(m_lifecycle);
    // The serving thread reads the sink without a lock.
    if (m_thread.joinable())
        throw std::logic_error("set the log sink before serving");
    m_logSink = std::move(sink);
}

std::string Simulator::start() {
    std::lock_guard lock(m_lifecycle);
    if (m_serving)
        throw std::logic_error("the simulator is already serving");
    closeLine(); // a line that failed by itself still has its thread to join
    Line line;
    try {
        line.fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (line.fd < 0)
            fail("cannot open a pseudo-terminal");
        if (::grantpt(line.fd) != 0 || ::unlockpt(line.fd) != 0)
            fail("cannot unlock the pseudo-terminal");
        char name[128];
        if (::ptsname_r(line.fd, name, sizeof name) != 0)
            fail("cannot name the pseudo-terminal");
        const std::string path = name;
        // Holding the slave ourselves means the master never reports a hang-up
        // while the panel has the port closed.
        line.ownSlave = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (line.ownSlave < 0)
            fail("cannot open " + path);
        makeRaw(line.ownSlave, path, std::nullopt);
        if (::fcntl(line.fd, F_SETFL, O_NONBLOCK) != 0)
            fail("cannot make the line non-blocking");
        addWakePipe(line.wakeRead, line.wakeWrite);
        if (m_config.baud > 0)
            line.byteTime = std::chrono::nanoseconds(1s) * kBitsPerByte / m_config.baud;
        launch(line);
        return path;
    } catch (...) {
        closeFd(line.fd);
        closeFd(line.ownSlave);
        closeFd(line.wakeRead);
        closeFd(line.wakeWrite);
        throw;
    }
}

void Simulator::startOnDevice(const std::string& path, int baud) {
    std::lock_guard lock(m_lifecycle);
    if (m_serving)
        throw std::logic_error("the simulator is already serving");
    closeLine(); // a line that failed by itself still has its thread to join
    const auto speed = speedFor(baud);
    if (!speed)
        throw std::system_error(std::make_error_code(std::errc::invalid_argument),
                                "unsupported speed " + std::to_string(baud));
    Line line;
    try {
        line.fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (line.fd < 0)
            fail("cannot open " + path);
        makeRaw(line.fd, path, speed);
        ::tcflush(line.fd, TCIOFLUSH);
        addWakePipe(line.wakeRead, line.wakeWrite);
        launch(line);
    } catch (...) {
        closeFd(line.fd);
        closeFd(line.wakeRead);
        closeFd(line.wakeWrite);
        throw;
    }
}

void Simulator::launch(Line line) {
    m_line = line;
    m_serving = true;
    m_thread = std::thread([this, line] { serve(line); });
}

void Simulator::hangUp() {
    std::lock_guard lock(m_lifecycle);
    closeLine();
}

void Simulator::closeLine() {
    if (!m_thread.joinable())
        return;
    const char wake = 1;
    // The pipe is empty or already has a byte; either way the thread wakes.
    [[maybe_unused]] const auto written = ::write(m_line.wakeWrite, &wake, 1);
    m_thread.join();
    closeFd(m_line.fd);
    closeFd(m_line.ownSlave);
    closeFd(m_line.wakeRead);
    closeFd(m_line.wakeWrite);
}

Board& Simulator::board(std::string_view address) {
    for (auto& b : m_boards) {
        if (b.address() == address)
            return b;
    }
    throw std::invalid_argument("no board has address " + std::string(address));
}

const Board& Simulator::board(std::string_view address) const {
    for (const auto& b : m_boards) {
        if (b.address() == address)
            return b;
    }
    throw std::invalid_argument("no board has address " + std::string(address));
}

void Simulator::setBehaviour(std::string_view address, const Behaviour& behaviour) {
    std::lock_guard lock(m_mutex);
    board(address).setBehaviour(behaviour);
}

void Simulator::setInputs(std::string_view address, std::optional<std::string> lineOrder) {
    std::lock_guard lock(m_mutex);
    board(address).setInputs(std::move(lineOrder));
}

void Simulator::setAnalog(std::string_view address, int a, int b) {
    std::lock_guard lock(m_mutex);
    board(address).setAnalog(a, b);
}

void Simulator::setCrossedInputs(std::string_view address, std::vector<Wire> wires) {
    std::lock_guard lock(m_mutex);
    board(address).setCrossedInputs(std::move(wires));
}

void Simulator::setStuckInputs(std::string_view address, std::vector<StuckInput> stuck) {
    std::lock_guard lock(m_mutex);
    board(address).setStuckInputs(std::move(stuck));
}

std::string Simulator::outputs(std::string_view address) const {
    std::lock_guard lock(m_mutex);
    return board(address).outputs();
}

std::vector<Frame> Simulator::frames() const {
    std::lock_guard lock(m_mutex);
    return {m_frames.begin(), m_frames.end()};
}

void Simulator::clearFrames() {
    std::lock_guard lock(m_mutex);
    m_frames.clear();
}

void Simulator::record(Direction direction, const std::string& address, const std::string& bytes) {
    const auto now = Clock::now();
    {
        std::lock_guard lock(m_mutex);
        m_frames.push_back(Frame{now, direction, address, bytes});
        if (m_frames.size() > kFrameLimit)
            m_frames.pop_front();
    }
    log(direction == Direction::Received ? "<-" : "->", address, bytes);
}

void Simulator::log(std::string_view direction, std::string_view address, std::string_view bytes) {
    if (m_logSink)
        m_logSink(logLine(Clock::now() - m_began, direction, address, bytes));
}

// The serving loop: reads requests, lets each arrive after its line time,
// asks the board, and writes reply bytes as their slots come due. It sleeps in
// ppoll until the next thing is due or bytes come in; it never spins.
void Simulator::serve(Line line) {
    // Wakes as close to a byte's time as the system can: the default slack
    // of 50 us would make every reply that much later than its line time.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    RequestParser parser;
    std::deque<Incoming> incoming;
    std::vector<Outgoing> waiting;
    std::optional<Outgoing> current;
    Clock::time_point receiveFree{}; // when the line is done carrying received bytes
    Clock::time_point sendFree{};    // when our last reply byte has left
    bool lineLost = false;

    const auto takeRequest = [&](const Incoming& in) {
        if (!in.request) {
            log("<-", "--", in.ignored + " (ignored)");
            return;
        }
        const Request& request = *in.request;
        record(Direction::Received, request.address, request.bytes);
        std::optional<Reply> reply;
        {
            std::lock_guard lock(m_mutex);
            for (auto& b : m_boards) {
                if (b.address() == request.address)
                    reply = b.answer(request);
            }
        }
        if (reply) {
            // Timed from the emulated arrival, not from when this thread got
            // round to it, so wake-up latency does not add up.
            const auto ready = in.arrival + m_config.turnaround + reply->delay;
            waiting.push_back(Outgoing{ready, request.address, std::move(*reply), {}, {}, 0});
        }
    };

    // Puts the earliest ready reply on the line. Replies never interleave:
    // a board that has begun holds the line until its last byte.
    const auto beginNext = [&](Clock::time_point now) {
        const auto next = std::min_element(
            waiting.begin(), waiting.end(),
            [](const Outgoing& a, const Outgoing& b) { return a.ready < b.ready; });
        if (next == waiting.end() || next->ready > now)
            return false;
        Outgoing out = std::move(*next);
        waiting.erase(next);
        auto slot = std::max(out.ready, sendFree);
        for (std::size_t c = 0; c < out.reply.chunks.size(); ++c) {
            if (c > 0)
                slot += out.reply.gap;
            for (const char byte : out.reply.chunks[c]) {
                slot += line.byteTime;
                out.bytes += byte;
                out.due.push_back(slot);
            }
        }
        sendFree = slot;
        current = std::move(out);
        return true;
    };

    const auto sendDue = [&](Clock::time_point now) {
        for (;;) {
            if (!current && !beginNext(now))
                return;
            Outgoing& out = *current;
            std::size_t count = 0;
            while (out.sent + count < out.bytes.size() && out.due[out.sent + count] <= now)
                ++count;
            if (count > 0) {
                const auto written = ::write(line.fd, out.bytes.data() + out.sent, count);
                if (written < 0 && errno == EINTR)
                    return; // tried again on the next round
                // A full buffer (EAGAIN, or only part taken) means nobody reads
                // the line; like a receiver that overran, the bytes are lost
                // rather than held back.
                if (written < 0 && errno != EAGAIN) {
                    lineLost = true;
                    return;
                }
                out.sent += count;
            }
            if (out.sent < out.bytes.size())
                return;
            record(Direction::Sent, out.address, out.bytes);
            current.reset();
        }
    };

    const auto receive = [&]() {
        char buffer[kReadChunk];
        for (;;) {
            const auto got = ::read(line.fd, buffer, sizeof buffer);
            if (got < 0 && (errno == EAGAIN || errno == EINTR))
                return;
            if (got <= 0) {
                lineLost = true;
                return;
            }
            const auto readAt = Clock::now();
            const auto lineStart = std::max(readAt, receiveFree);
            receiveFree = lineStart + line.byteTime * got;
            for (auto& event :
                 parser.feed(std::string_view(buffer, static_cast<std::size_t>(got)))) {
                const auto onLine = lineStart + line.byteTime * static_cast<long>(event.end);
                if (event.kind == ParseEvent::Kind::Request)
                    incoming.push_back(Incoming{onLine, std::move(event.request), {}});
                else
                    incoming.push_back(Incoming{onLine, std::nullopt, std::move(event.ignored)});
            }
        }
    };

    while (!lineLost) {
        auto now = Clock::now();
        while (!incoming.empty() && incoming.front().arrival <= now) {
            takeRequest(incoming.front());
            incoming.pop_front();
        }
        sendDue(now);
        if (lineLost)
            break;

        std::optional<Clock::time_point> deadline;
        if (!incoming.empty())
            deadline = incoming.front().arrival;
        std::optional<Clock::time_point> nextSend;
        if (current) {
            // Bytes due within kBatch of the next one go out together at the
            // time of the last of them: one wake per batch, and the reply's
            // final byte (its ETX) leaves on time rather than up to a batch
            // late.
            const Outgoing& out = *current;
            std::size_t last = out.sent;
            while (last + 1 < out.bytes.size() && out.due[last + 1] <= out.due[out.sent] + kBatch)
                ++last;
            nextSend = out.due[last];
        } else {
            for (const auto& out : waiting)
                nextSend = nextSend ? std::min(*nextSend, out.ready) : out.ready;
        }
        if (nextSend)
            deadline = deadline ? std::min(*deadline, *nextSend) : *nextSend;

        timespec timeout{};
        timespec* timeoutPointer = nullptr;
        if (deadline) {
            now = Clock::now();
            const auto wait = std::max<Clock::duration>(*deadline - now, 0ns);
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
            timeout.tv_sec = static_cast<time_t>(seconds.count());
            timeout.tv_nsec = static_cast<long>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(wait - seconds).count());
            timeoutPointer = &timeout;
        }
        pollfd fds[2] = {{line.fd, POLLIN, 0}, {line.wakeRead, POLLIN, 0}};
        const int ready = ::ppoll(fds, 2, timeoutPointer, nullptr);
        if (ready < 0 && errno != EINTR)
            break;
        if (fds[1].revents != 0)
            break;
        if (fds[0].revents & POLLIN)
            receive();
        else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))
            lineLost = true;
    }
    if (lineLost)
        log("--", "--", "line lost");
    m_serving = false;
}

} // namespace rio::sim
