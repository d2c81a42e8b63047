#pragma once
// The board simulator: plays up to three boards on one line, in-process, on a
// background thread. Tests and the riosim program use it like this:
//
//   rio::sim::SimConfig config;                 // boards 01, 02, 03 by default
//   config.boards[1].behaviour = *rio::sim::parseBehaviour("silent");
//   config.boards[1].stuckInputs = {{3, '1'}};  // input 3 always on
//   config.boards[2].crossedInputs = {{1, 2}, {2, 1}}; // outputs 1 and 2 swapped
//   config.baud = 9600;                         // emulate line time (0: none)
//   rio::sim::Simulator sim(config);
//   std::string path = sim.start();             // a new pseudo-terminal: "/dev/pts/7"
//   ... open `path` from the panel side, send requests, read replies ...
//   sim.frames();                               // every frame received and sent
//   sim.setBehaviour("02", {});                 // change a board while running
//   sim.hangUp();                               // cable pulled: `path` stops working
//   path = sim.start();                         // plugged in again on a new path
//
// Boards answer only their own address. Inputs are fixed or loop back the last
// written outputs, through straight or crossed wires, and any of them may be
// stuck at 0 or 1; analog readings are fixed or ramp. A request is taken as
// arrived once its bytes have been on the line for their line time (10 bits a
// byte at `baud`), then after `turnaround` the reply bytes leave one line-time
// slot each. Nothing is emulated at baud 0 or on a real device, whose UART
// takes the time itself. The simulator keeps the slave side open itself, so a
// reply that goes out while the panel has the path closed (a late one, say)
// waits in the pseudo-terminal for the panel's next open.
//
// All member functions may be called from any thread. start() and
// startOnDevice() throw std::system_error when the line cannot be opened, and
// std::logic_error while already serving; the board setters throw
// std::invalid_argument for an address no board has or a setting no board can
// take.

#include "sim/sim_board.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace rio::sim {

struct SimConfig {
    // At most three, each address once. Default: 01, 02, 03 with loop-back
    // inputs and fixed analog readings.
    std::vector<BoardConfig> boards = defaultBoards();
    // Line time emulated on a pseudo-terminal; 0 sends replies at once.
    int baud = 0;
    // Between a request's arrival and the first reply byte; at most
    // kLongestWait.
    std::chrono::milliseconds turnaround{0};

    [[nodiscard]] static std::vector<BoardConfig> defaultBoards();
};

enum class Direction { Received, Sent };

inline constexpr std::size_t kFrameLimit = 100'000;

// One request as it arrived (recorded whether or not a board has its address)
// or one reply once its last byte was written. Bytes no board could take as a
// request are not recorded; --log shows them. The newest kFrameLimit frames
// are kept, so a simulator left running for days stays small.
struct Frame {
    std::chrono::steady_clock::time_point time;
    Direction direction = Direction::Received;
    std::string address;
    std::string bytes;
};

class Simulator {
public:
    explicit Simulator(SimConfig config = {});
    ~Simulator(); // stops serving
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Called on the serving thread with each log line (no newline): every
    // request and reply, and bytes that were ignored. Set before start();
    // throws std::logic_error while serving.
    void setLogSink(std::function<void(const std::string&)> sink);

    // Opens a new pseudo-terminal (raw, no echo), keeps a descriptor of its
    // slave side open so the panel may close and reopen it freely, and serves
    // on it. Returns the slave path.
    [[nodiscard]] std::string start();
    // Serves on an existing serial device, raw 8N1 at `baud` (bits per second).
    void startOnDevice(const std::string& path, int baud = 9600);

    // Ends serving promptly and closes the simulator's side of the line (the
    // master and its own slave descriptor): a panel holding the slave path
    // sees a hang-up, as if the cable were pulled, and the path can no longer
    // be opened. Replies not yet sent are lost. start() may follow; boards
    // keep their state and the frame record goes on.
    void hangUp();
    // The same as hangUp(), for the end of a run.
    void stop() { hangUp(); }
    // False before start, after hangUp(), and when the line failed (a device
    // that went away).
    [[nodiscard]] bool serving() const { return m_serving; }

    // Take effect from the next request on.
    void setBehaviour(std::string_view address, const Behaviour& behaviour);
    // Eight states in line order, or none for loop-back.
    void setInputs(std::string_view address, std::optional<std::string> lineOrder);
    void setAnalog(std::string_view address, int a, int b);
    // Faults of a loop-back fixture and of an input stage (see BoardConfig).
    void setCrossedInputs(std::string_view address, std::vector<Wire> wires);
    void setStuckInputs(std::string_view address, std::vector<StuckInput> stuck);

    // The output states of the board's last write request, line order.
    [[nodiscard]] std::string outputs(std::string_view address) const;

    // Every frame so far, oldest first.
    [[nodiscard]] std::vector<Frame> frames() const;
    void clearFrames();

private:
    struct Line {
        int fd = -1;
        int ownSlave = -1; // pseudo-terminal only
        int wakeRead = -1;
        int wakeWrite = -1;
        std::chrono::nanoseconds byteTime{0};
    };

    void launch(Line line);
    void closeLine(); // with m_lifecycle held
    void serve(Line line);
    [[nodiscard]] Board& board(std::string_view address);
    [[nodiscard]] const Board& board(std::string_view address) const;
    void record(Direction direction, const std::string& address, const std::string& bytes);
    void log(std::string_view direction, std::string_view address, std::string_view bytes);

    const SimConfig m_config;
    const std::chrono::steady_clock::time_point m_began;
    mutable std::mutex m_mutex; // guards m_boards and m_frames
    std::vector<Board> m_boards;
    std::deque<Frame> m_frames;
    std::function<void(const std::string&)> m_logSink;

    std::mutex m_lifecycle; // serialises start and hang-up
    Line m_line;
    std::thread m_thread;
    std::atomic<bool> m_serving{false};
};

} // namespace rio::sim
