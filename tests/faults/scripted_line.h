#pragma once
// A line whose far end the test drives byte by byte: a pseudo-terminal with
// three loop-back boards (01, 02, 03) that answer at once, unless the test
// says what goes back for a request, and with any bytes the test likes sent
// on demand, a flood of a megabyte included. The simulator shapes replies
// only as its behaviours allow; the fault tests also need exact hostile bytes
// and more data than any board would send.

#include "sim/simulator.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace rio::faults {

class ScriptedLine {
public:
    // What goes back for a request: bytes, or nothing to let the board answer.
    using Answer = std::function<std::optional<std::string>(const sim::Request&)>;

    // Opens a pseudo-terminal and starts serving; throws std::runtime_error
    // (std::system_error for a failing call) where it cannot.
    ScriptedLine();
    ~ScriptedLine();
    ScriptedLine(const ScriptedLine&) = delete;
    ScriptedLine& operator=(const ScriptedLine&) = delete;

    [[nodiscard]] const std::string& path() const { return m_path; }

    void setAnswer(Answer answer);
    // Queues bytes to go out as soon as the line takes them.
    void send(std::string bytes);
    // Sends `count` bytes of noise (no ETX) as fast as the line takes them,
    // made as they go so that the test itself holds none of them.
    void flood(std::size_t count);
    // Drops whatever is still to be sent, flood included: the line goes quiet.
    void quiet();
    // `count` random bytes, none of them ETX, seeded so a run repeats.
    [[nodiscard]] static std::string noise(std::size_t count, unsigned seed);

    // Bytes queued and not yet taken by the line.
    [[nodiscard]] std::size_t pending() const;
    // Requests received so far.
    [[nodiscard]] int requests() const { return m_requests; }
    // Every byte received so far, in line order.
    [[nodiscard]] std::string received() const;

private:
    void serve();
    void wake() const;

    std::string m_path;
    int m_master = -1;
    int m_ownSlave = -1;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    mutable std::mutex m_mutex; // guards everything below
    Answer m_answer;
    std::string m_outbox;
    std::string m_received;
    std::size_t m_floodLeft = 0;
    std::vector<sim::Board> m_boards;
    std::atomic<int> m_requests{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace rio::faults
