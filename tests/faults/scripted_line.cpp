#include "tests/faults/scripted_line.h"

#include "tests/support/pseudo_terminal.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <stdexcept>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace rio::faults {

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// Large enough to move a megabyte in a few hundred writes, small enough that
// a panel that stops reading leaves little in flight.
constexpr std::size_t kChunk = 4096;

} // namespace

ScriptedLine::ScriptedLine() {
    test::PseudoTerminal line;
    if (!line.isOpen())
        throw std::runtime_error(line.problem().toStdString());
    m_path = line.path();
    m_master = line.release();
    // Held open so that the panel closing its side never hangs the line up.
    m_ownSlave = ::open(m_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_ownSlave < 0)
        fail("cannot open " + m_path);
    termios attrs{};
    if (::tcgetattr(m_ownSlave, &attrs) != 0)
        fail("cannot read line settings");
    ::cfmakeraw(&attrs);
    if (::tcsetattr(m_ownSlave, TCSANOW, &attrs) != 0)
        fail("cannot set line settings");
    if (::fcntl(m_master, F_SETFL, O_NONBLOCK) != 0)
        fail("cannot make the line non-blocking");
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        fail("cannot make a wake-up pipe");
    m_wakeRead = ends[0];
    m_wakeWrite = ends[1];
    for (const sim::BoardConfig& config : sim::SimConfig::defaultBoards())
        m_boards.emplace_back(config);
    m_thread = std::thread([this] { serve(); });
}

ScriptedLine::~ScriptedLine() {
    m_stop = true;
    wake();
    m_thread.join();
    for (int fd : {m_master, m_ownSlave, m_wakeRead, m_wakeWrite})
        ::close(fd);
}

void ScriptedLine::setAnswer(Answer answer) {
    std::lock_guard lock(m_mutex);
    m_answer = std::move(answer);
}

void ScriptedLine::send(std::string bytes) {
    {
        std::lock_guard lock(m_mutex);
        m_outbox += bytes;
    }
    wake();
}

void ScriptedLine::flood(std::size_t count) {
    {
        std::lock_guard lock(m_mutex);
        m_floodLeft += count;
    }
    wake();
}

void ScriptedLine::quiet() {
    std::lock_guard lock(m_mutex);
    m_outbox.clear();
    m_floodLeft = 0;
}

std::string ScriptedLine::noise(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, 254);
    std::string bytes(count, '\0');
    for (char& c : bytes) {
        const int b = byte(random);
        c = static_cast<char>(b >= 0x03 ? b + 1 : b); // 0..255 without 0x03
    }
    return bytes;
}

std::string ScriptedLine::received() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

std::size_t ScriptedLine::pending() const {
    std::lock_guard lock(m_mutex);
    return m_outbox.size() + m_floodLeft;
}

void ScriptedLine::wake() const {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(m_wakeWrite, &byte, 1);
}

void ScriptedLine::serve() {
    sim::RequestParser parser;
    const std::string noiseChunk = noise(kChunk, 11);
    while (!m_stop) {
        bool sending = false;
        {
            std::lock_guard lock(m_mutex);
            sending = !m_outbox.empty() || m_floodLeft > 0;
        }
        pollfd fds[2] = {{m_master, short(POLLIN | (sending ? POLLOUT : 0)), 0},
                         {m_wakeRead, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[1].revents & POLLIN) {
            char drain[64];
            while (::read(m_wakeRead, drain, sizeof drain) > 0) {
            }
        }
        if (fds[0].revents & POLLIN) {
            char buffer[kChunk];
            const auto got = ::read(m_master, buffer, sizeof buffer);
            if (got > 0) {
                {
                    std::lock_guard lock(m_mutex);
                    m_received.append(buffer, std::size_t(got));
                }
                for (sim::ParseEvent& event :
                     parser.feed(std::string_view(buffer, std::size_t(got)))) {
                    if (event.kind != sim::ParseEvent::Kind::Request)
                        continue;
                    ++m_requests;
                    std::lock_guard lock(m_mutex);
                    std::optional<std::string> reply;
                    if (m_answer)
                        reply = m_answer(event.request);
                    if (!reply) {
                        for (sim::Board& board : m_boards)
                            if (board.address() == event.request.address)
                                if (auto answer = board.answer(event.request))
                                    reply = answer->bytes();
                    }
                    if (reply)
                        m_outbox += *reply;
                }
            }
        }
        if (fds[0].revents & POLLOUT) {
            std::lock_guard lock(m_mutex);
            if (!m_outbox.empty()) {
                const std::size_t size = std::min(kChunk, m_outbox.size());
                const auto written = ::write(m_master, m_outbox.data(), size);
                if (written > 0)
                    m_outbox.erase(0, std::size_t(written));
            } else if (m_floodLeft > 0) {
                const std::size_t size = std::min(kChunk, m_floodLeft);
                const auto written = ::write(m_master, noiseChunk.data(), size);
                if (written > 0)
                    m_floodLeft -= std::size_t(written);
            }
        }
    }
}

} // namespace rio::faults
