#include "sim/sim_board.h"

#include "protocol/frames.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace rio::sim {

using rio::protocol::ACK;
using rio::protocol::ETX;

namespace {

constexpr char NAK = 0x15;
constexpr std::size_t kStateCount = 8;
constexpr int kAnalogMax = 9999;
constexpr std::size_t kGarbageMin = 5;
constexpr std::size_t kGarbageMax = 30;

void checkBit(int k, const char* what) {
    if (k < kFirstBit || k > kLastBit)
        throw std::invalid_argument(std::string(what) + " is numbered 1..8");
}

std::string fourDigits(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04d", value);
    return text;
}

void checkAnalog(int value) {
    if (value < 0 || value > kAnalogMax)
        throw std::invalid_argument("analog reading must be 0..9999");
}

} // namespace

namespace {

std::optional<std::chrono::milliseconds> waitOf(std::string_view text) {
    const auto ms = protocol::digitsNumber<long long>(text);
    if (!ms || *ms > kLongestWait.count())
        return std::nullopt;
    return std::chrono::milliseconds(*ms);
}

} // namespace

std::optional<Behaviour> parseBehaviour(std::string_view text) {
    const auto colon = text.find(':');
    const std::string_view name = text.substr(0, colon);
    const std::string_view rest =
        colon == std::string_view::npos ? std::string_view{} : text.substr(colon + 1);
    const bool hasArgs = colon != std::string_view::npos;

    static constexpr std::pair<std::string_view, BehaviourKind> kPlain[] = {
        {"normal", BehaviourKind::Normal},      {"silent", BehaviourKind::Silent},
        {"bad-ack", BehaviourKind::BadAck},     {"bad-command", BehaviourKind::BadCommand},
        {"etx-moved", BehaviourKind::EtxMoved}, {"extra-byte", BehaviourKind::ExtraByte},
        {"garbage", BehaviourKind::Garbage},
    };
    for (const auto& [plainName, kind] : kPlain) {
        if (name == plainName)
            return hasArgs ? std::nullopt : std::optional(Behaviour{kind, {}, 0});
    }
    if (name == "late" && !hasArgs)
        return Behaviour{BehaviourKind::Late, kDefaultLateWait, 0};
    if (name == "delay" || name == "late") {
        const auto wait = waitOf(rest);
        if (!wait)
            return std::nullopt;
        const auto kind = name == "delay" ? BehaviourKind::Delay : BehaviourKind::Late;
        return Behaviour{kind, *wait, 0};
    }
    if (name == "split") {
        const auto second = rest.find(':');
        if (second == std::string_view::npos)
            return std::nullopt;
        const auto size = protocol::digitsNumber<long>(rest.substr(0, second));
        const auto wait = waitOf(rest.substr(second + 1));
        if (!size || *size == 0 || !wait)
            return std::nullopt;
        return Behaviour{BehaviourKind::Split, *wait, static_cast<std::size_t>(*size)};
    }
    if (name == "intermittent") {
        const auto every = protocol::digitsNumber<std::size_t>(rest);
        if (!every || *every == 0)
            return std::nullopt;
        return Behaviour{BehaviourKind::Intermittent, {}, 0, *every};
    }
    return std::nullopt;
}

std::string Reply::bytes() const {
    std::string all;
    for (const auto& chunk : chunks)
        all += chunk;
    return all;
}

Board::Board(BoardConfig config)
    : m_config(std::move(config)), m_outputs(kStateCount, '0'),
      m_random(static_cast<std::mt19937::result_type>(std::hash<std::string>{}(m_config.address))) {
    if (m_config.address.size() != 2)
        throw std::invalid_argument("a board address is exactly two bytes");
    setBehaviour(m_config.behaviour);
    setInputs(m_config.fixedInputs);
    setAnalog(m_config.analogA, m_config.analogB);
    setCrossedInputs(m_config.crossedInputs);
    setStuckInputs(m_config.stuckInputs);
}

void Board::setBehaviour(const Behaviour& behaviour) {
    if (behaviour.kind == BehaviourKind::Split && behaviour.chunkSize == 0)
        throw std::invalid_argument("a split reply needs chunks of at least one byte");
    if (behaviour.kind == BehaviourKind::Intermittent && behaviour.every == 0)
        throw std::invalid_argument("an intermittent board drops every Nth request, N at least 1");
    if (behaviour.wait < std::chrono::milliseconds(0) || behaviour.wait > kLongestWait)
        throw std::invalid_argument("a behaviour waits from 0 to a year");
    m_config.behaviour = behaviour;
    m_requests = 0;
}

void Board::setInputs(std::optional<std::string> lineOrder) {
    if (lineOrder && lineOrder->size() != kStateCount)
        throw std::invalid_argument("inputs are exactly eight states");
    m_config.fixedInputs = std::move(lineOrder);
}

void Board::setCrossedInputs(std::vector<Wire> wires) {
    for (auto wire = wires.begin(); wire != wires.end(); ++wire) {
        checkBit(wire->output, "an output");
        checkBit(wire->input, "an input");
        const auto same = [&](const Wire& other) { return other.output == wire->output; };
        if (std::any_of(wires.begin(), wire, same))
            throw std::invalid_argument("an output drives one input");
    }
    m_config.crossedInputs = std::move(wires);
}

void Board::setStuckInputs(std::vector<StuckInput> stuck) {
    for (const auto& s : stuck) {
        checkBit(s.input, "an input");
        if (s.state != '0' && s.state != '1')
            throw std::invalid_argument("a stuck input is '0' or '1'");
    }
    m_config.stuckInputs = std::move(stuck);
}

void Board::setAnalog(int a, int b) {
    checkAnalog(a);
    checkAnalog(b);
    m_config.analogA = a;
    m_config.analogB = b;
}

std::string Board::inputs() const {
    // Straight loop-back wiring is a plain copy: both frames carry 8 first.
    std::string states = m_config.fixedInputs.value_or(m_outputs);
    if (!m_config.fixedInputs && !m_config.crossedInputs.empty()) {
        std::vector<std::vector<char>> drivers(kStateCount);
        for (int output = kFirstBit; output <= kLastBit; ++output) {
            int input = output;
            for (const auto& wire : m_config.crossedInputs) {
                if (wire.output == output)
                    input = wire.input;
            }
            drivers[protocol::linePosition(input)].push_back(
                m_outputs[protocol::linePosition(output)]);
        }
        for (std::size_t i = 0; i < kStateCount; ++i) {
            const auto& d = drivers[i];
            if (d.size() == 1)
                states[i] = d.front();
            else
                states[i] = std::find(d.begin(), d.end(), '1') != d.end() ? '1' : '0';
        }
    }
    for (const auto& stuck : m_config.stuckInputs)
        states[protocol::linePosition(stuck.input)] = stuck.state;
    return states;
}

std::string Board::readReply() {
    std::string frame;
    frame += ACK;
    frame += m_config.address;
    frame += 'R';
    frame += inputs();
    frame += fourDigits(m_config.analogA);
    frame += fourDigits(m_config.analogB);
    frame += ETX;
    if (m_config.ramp) {
        // Ramping values stay within 0..1023 even if they started above.
        m_config.analogA = (m_config.analogA + kRampStep) % (kRampTop + 1);
        m_config.analogB =
            ((m_config.analogB - kRampStep) % (kRampTop + 1) + kRampTop + 1) % (kRampTop + 1);
    }
    return frame;
}

std::string Board::writeReply(const Request& request) const {
    std::string frame;
    frame += ACK;
    frame += m_config.address;
    frame += 'W';
    frame += request.states;
    frame += ETX;
    return frame;
}

// Bytes that can never pass for a reply: no ACK and no ETX inside. Replies
// alternate between ending in ETX (the panel's wait ends and it must reject
// them) and not (the panel must run into its poll limit).
std::string Board::garbage() {
    std::uniform_int_distribution<std::size_t> length(kGarbageMin, kGarbageMax);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes(length(m_random), '\0');
    for (auto& b : bytes) {
        char c = 0;
        do
            c = static_cast<char>(byte(m_random));
        while (c == ACK || c == ETX);
        b = c;
    }
    if (m_garbageEndsInEtx)
        bytes.back() = ETX;
    m_garbageEndsInEtx = !m_garbageEndsInEtx;
    return bytes;
}

std::optional<Reply> Board::answer(const Request& request) {
    std::string frame;
    if (request.command == 'W') {
        m_outputs = request.states;
        frame = writeReply(request);
    } else {
        frame = readReply();
    }
    const Behaviour& behaviour = m_config.behaviour;
    // ACK first, the letter at the fourth byte, ETX last: all three replies
    // share that layout.
    constexpr std::size_t kCommandIndex = 3;
    Reply reply;
    switch (behaviour.kind) {
    case BehaviourKind::Silent:
        return std::nullopt;
    case BehaviourKind::Intermittent:
        if (++m_requests % behaviour.every == 0)
            return std::nullopt;
        break;
    case BehaviourKind::Delay:
    case BehaviourKind::Late:
        reply.delay = behaviour.wait;
        break;
    case BehaviourKind::Split:
        reply.gap = behaviour.wait;
        for (std::size_t at = 0; at < frame.size(); at += behaviour.chunkSize)
            reply.chunks.push_back(frame.substr(at, behaviour.chunkSize));
        return reply;
    case BehaviourKind::BadAck:
        frame.front() = NAK;
        break;
    case BehaviourKind::BadCommand:
        frame[kCommandIndex] = request.command == 'W' ? 'R' : 'W';
        break;
    case BehaviourKind::EtxMoved:
        frame.erase(frame.size() - 2, 1);
        break;
    case BehaviourKind::ExtraByte:
        frame += '\0';
        break;
    case BehaviourKind::Garbage:
        frame = garbage();
        break;
    case BehaviourKind::Normal:
        break;
    }
    reply.chunks.push_back(std::move(frame));
    return reply;
}

} // namespace rio::sim
