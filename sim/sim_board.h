#pragma once
// One simulated board: its settings, its state between requests, and the bytes
// it puts on the line for a request. No I/O and no clock here; the line engine
// in simulator.cpp decides when the bytes leave.

#include "protocol/numbers.h"
#include "sim/request_parser.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace rio::sim {

enum class BehaviourKind {
    Normal,
    Silent,       // never answers
    Delay,        // answers after `wait`
    Split,        // answers in chunks of `chunkSize` bytes, `wait` apart
    BadAck,       // NAK (0x15) where ACK belongs
    BadCommand,   // the other command letter: 'W' in a read reply, 'R' in a write reply
    EtxMoved,     // the last byte before ETX left out, so ETX comes one position early
    ExtraByte,    // a NUL byte after ETX
    Garbage,      // random bytes; every other such reply ends in ETX, see Board::garbage
    Late,         // like Delay, meant to land after the panel has given up
    Intermittent, // every `every`th request to the board unanswered, the rest normal
};

// A behaviour only shapes the reply: the board takes every request into its
// state (outputs, ramp) whatever it answers.
struct Behaviour {
    BehaviourKind kind = BehaviourKind::Normal;
    std::chrono::milliseconds wait{0}; // Delay, Late: before the reply; Split: between chunks
    std::size_t chunkSize = 0;         // Split only
    std::size_t every = 0;             // Intermittent only, at least 1
};

inline constexpr std::chrono::milliseconds kDefaultLateWait{600};
// The longest wait a behaviour or the turnaround may ask for. Reply times are
// steady-clock points in nanoseconds, which a wait of a few centuries would
// overflow; a year is far beyond any test and far within that.
inline constexpr std::chrono::milliseconds kLongestWait = std::chrono::hours(24 * 365);

// Command-line form: normal, silent, delay:MS, split:N:MS, bad-ack, bad-command,
// etx-moved, extra-byte, garbage, late or late:MS (late alone waits 600 ms),
// intermittent:N. MS is at most kLongestWait.
[[nodiscard]] std::optional<Behaviour> parseBehaviour(std::string_view text);

inline constexpr int kDefaultAnalogA = 512;
inline constexpr int kDefaultAnalogB = 1023;
// Ramping readings move this much per read and wrap within 0..1023.
inline constexpr int kRampStep = 8;
inline constexpr int kRampTop = 1023;

// Inputs and outputs are numbered 1..8 as captioned on the panel's buttons;
// in a frame number k sits at index 8 - k, since the line carries 8 first.
inline constexpr int kFirstBit = 1;
inline constexpr int kLastBit = 8;

// Input `input` reads `state` ('0' or '1') whatever drives it.
struct StuckInput {
    int input = kFirstBit;
    char state = '0';
};

// On a loop-back board, output `output` drives input `input`.
struct Wire {
    int output = kFirstBit;
    int input = kFirstBit;
};

struct BoardConfig {
    std::string address = "01"; // exactly two bytes
    Behaviour behaviour;
    // Eight input states in line order (index 7 first). None: loop-back, the
    // states of the last write request come back as the inputs.
    std::optional<std::string> fixedInputs;
    int analogA = kDefaultAnalogA; // 0..9999, sent as four digits
    int analogB = kDefaultAnalogB;
    // A counts up and B counts down by kRampStep each read, starting from the
    // values above.
    bool ramp = false;
    // Loop-back wiring that is not straight: each output named here drives the
    // input given instead of its own; the others keep their own. An input no
    // output drives reads '0', one driven by several reads '1' if any is on.
    // Each output at most once; no effect with fixed inputs.
    std::vector<Wire> crossedInputs;
    // Forced after the inputs are found, fixed or looped back; a later entry
    // for the same input wins.
    std::vector<StuckInput> stuckInputs;
};

// What goes back for one request: chunks sent one after the other, the first
// `delay` after the request arrived, the rest `gap` apart.
struct Reply {
    std::chrono::milliseconds delay{0};
    std::chrono::milliseconds gap{0};
    std::vector<std::string> chunks;

    [[nodiscard]] std::string bytes() const;
};

class Board {
public:
    // Throws std::invalid_argument for settings that cannot go on the line.
    explicit Board(BoardConfig config);

    [[nodiscard]] const std::string& address() const { return m_config.address; }
    [[nodiscard]] const BoardConfig& config() const { return m_config; }
    // The output states of the last write request, line order; zeros before any.
    [[nodiscard]] const std::string& outputs() const { return m_outputs; }

    void setBehaviour(const Behaviour& behaviour);
    void setInputs(std::optional<std::string> lineOrder);
    void setAnalog(int a, int b);
    void setRamp(bool on) { m_config.ramp = on; }
    void setCrossedInputs(std::vector<Wire> wires);
    void setStuckInputs(std::vector<StuckInput> stuck);

    // Takes a request addressed to this board into its state and returns what
    // it sends back, or nothing when it keeps silent.
    [[nodiscard]] std::optional<Reply> answer(const Request& request);

private:
    [[nodiscard]] std::string inputs() const;
    [[nodiscard]] std::string readReply();
    [[nodiscard]] std::string writeReply(const Request& request) const;
    [[nodiscard]] std::string garbage();

    BoardConfig m_config;
    std::string m_outputs;
    // Seeded from the address so a run can be repeated byte for byte.
    std::mt19937 m_random;
    bool m_garbageEndsInEtx = true;
    // Requests since the behaviour was set, for Intermittent.
    std::size_t m_requests = 0;
};

} // namespace rio::sim
