#include "sim/sim_options.h"

#include "protocol/frame_text.h"

#include <algorithm>
#include <map>
#include <string>

namespace rio::sim {

namespace {

// "02=silent" into "02" and "silent".
std::optional<std::pair<std::string, std::string>> perBoard(const std::string& text) {
    const auto eq = text.find('=');
    if (eq == std::string::npos)
        return std::nullopt;
    return std::pair(text.substr(0, eq), text.substr(eq + 1));
}

std::vector<std::string> splitOn(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (;;) {
        const auto at = text.find(separator, from);
        parts.push_back(text.substr(from, at - from));
        if (at == std::string::npos)
            return parts;
        from = at + 1;
    }
}

bool isStates(const std::string& text) {
    return text.size() == 8 && text.find_first_not_of("01") == std::string::npos;
}

// An input or output number as captioned on the panel, 1..8.
std::optional<int> bitNumber(std::string_view text) {
    const auto k = protocol::digitsNumber<int>(text);
    if (!k || *k < kFirstBit || *k > kLastBit)
        return std::nullopt;
    return k;
}

// "3:1,5:0": input 3 always on, input 5 always off.
std::optional<std::vector<StuckInput>> stuckList(const std::string& text) {
    std::vector<StuckInput> stuck;
    for (const auto& item : splitOn(text, ',')) {
        const auto colon = item.find(':');
        if (colon == std::string::npos)
            return std::nullopt;
        const auto input = bitNumber(std::string_view(item).substr(0, colon));
        const auto state = item.substr(colon + 1);
        if (!input || (state != "0" && state != "1"))
            return std::nullopt;
        stuck.push_back(StuckInput{*input, state.front()});
    }
    return stuck;
}

// "1>2,2>1": output 1 drives input 2 and output 2 input 1. Each output once,
// but an input may be driven by several: the fixture fault it plays. A board
// test plan's map reads the same items with blanks allowed around the numbers
// and each input once, since the test must put a lit input down to one output.
std::optional<std::vector<Wire>> wireList(const std::string& text) {
    std::vector<Wire> wires;
    for (const auto& item : splitOn(text, ',')) {
        const auto arrow = item.find('>');
        if (arrow == std::string::npos)
            return std::nullopt;
        const auto output = bitNumber(std::string_view(item).substr(0, arrow));
        const auto input = bitNumber(std::string_view(item).substr(arrow + 1));
        const auto sameOutput = [&](const Wire& w) { return w.output == output; };
        if (!output || !input || std::any_of(wires.begin(), wires.end(), sameOutput))
            return std::nullopt;
        wires.push_back(Wire{*output, *input});
    }
    return wires;
}

// A value from the command line as a message quotes it: short and escaped.
std::string shown(std::string_view value) {
    return rio::protocol::excerpt(value);
}

ParsedOptions failure(std::string why) {
    return ParsedOptions{std::nullopt, std::move(why)};
}

} // namespace

std::string usageText() {
    return R"(usage: riosim [options]
Plays up to three remote I/O boards on one line: a new pseudo-terminal, or the
serial device given. Its first line of output is "riosim: line ready at PATH".
Serves until SIGINT or SIGTERM.

  --device PATH        serve on this serial device (raw, 8N1) instead
  --baud N             line speed; on a pseudo-terminal, line time is emulated
                       at 10 bits a byte (default: none); on a device, its speed
                       (default 9600)
  --turnaround MS      wait between a request's arrival and the reply (default 0);
                       this and every MS below at most 31536000000 (a year)
  --boards LIST        addresses answered, comma-separated, up to three
                       (default 01,02,03); other addresses get no answer
  --behaviour ADDR=B   how a board answers (repeatable; default normal):
                         normal       a correct reply
                         silent       no reply
                         delay:MS     the reply after MS
                         split:N:MS   the reply in chunks of N bytes, MS apart
                         bad-ack      NAK where ACK belongs
                         bad-command  the other command letter in the reply
                         etx-moved    ETX one position early (a byte left out)
                         extra-byte   a NUL byte after ETX
                         garbage      5 to 30 random bytes without ACK or ETX,
                                      every other time (the first included)
                                      ending in ETX
                         late[:MS]    the reply after MS (default 600), after
                                      the panel has given up
                         intermittent:N
                                      every Nth request to the board left
                                      unanswered, the others normal, e.g.
                                      --behaviour 02=intermittent:10
  --inputs ADDR=BITS   fixed inputs, eight 0/1 in reply order (index 7 first);
                       ADDR=loop (default) returns the last written outputs
  --stuck ADDR=K:S     input K (1..8 as on the panel; input 1 is the reply's
                       last input character) always S (0 or 1), whatever
                       drives it; several as a list, e.g. --stuck 02=1:0,8:1
  --cross ADDR=MAP     a loop-back board wired wrongly: O>I means output O
                       shows on input I, e.g. --cross '02=1>2,2>1' swaps 1
                       and 2; outputs not named keep their own input, an
                       input no output drives reads 0; not with fixed inputs
  --analog ADDR=A,B    analog readings, 0..9999 (default 512,1023); a reading
                       out of a test's limits is a fixed value, e.g.
                       --analog 02=9999,1023
  --ramp               readings move on each read: A up, B down, by 8,
                       wrapping within 0..1023
  --log                print each request (<-) and reply (->) with the time in
                       ms since start, the address and the frame
  --help               this text
  --version            the version of riosim
)";
}

ParsedOptions parseOptions(const std::vector<std::string>& args) {
    Options options;
    std::optional<int> baud;
    std::vector<std::string> addresses = {"01", "02", "03"};
    // Per-board settings wait until every address is known, so the order of
    // flags does not matter.
    std::vector<std::pair<std::string, std::string>> behaviours, inputs, analogs, stucks, crosses;
    const std::map<std::string, decltype(behaviours)*> perBoardFlags = {
        {"--behaviour", &behaviours}, {"--inputs", &inputs}, {"--analog", &analogs},
        {"--stuck", &stucks},         {"--cross", &crosses},
    };
    bool ramp = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string flag = args[i];
        std::optional<std::string> inlineValue;
        if (const auto eq = flag.find('='); flag.starts_with("--") && eq != std::string::npos) {
            inlineValue = flag.substr(eq + 1);
            flag.resize(eq);
        }
        const auto value = [&]() -> std::optional<std::string> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < args.size())
                return args[++i];
            return std::nullopt;
        };
        const auto noValue = [&] { return !inlineValue; };

        if (flag == "--help" && noValue()) {
            options.help = true;
        } else if (flag == "--version" && noValue()) {
            options.version = true;
        } else if (flag == "--log" && noValue()) {
            options.log = true;
        } else if (flag == "--ramp" && noValue()) {
            ramp = true;
        } else if (flag == "--device") {
            const auto v = value();
            if (!v || v->empty())
                return failure("--device needs a path");
            options.device = *v;
        } else if (flag == "--baud") {
            const auto v = value();
            baud = v ? protocol::digitsNumber<int>(*v) : std::nullopt;
            if (!baud || *baud == 0)
                return failure("--baud needs a speed in bits per second");
        } else if (flag == "--turnaround") {
            const auto v = value();
            const auto ms = v ? protocol::digitsNumber<long long>(*v) : std::nullopt;
            if (!ms || *ms > kLongestWait.count())
                return failure("--turnaround needs whole milliseconds, at most " +
                               std::to_string(kLongestWait.count()) + " (a year)");
            options.config.turnaround = std::chrono::milliseconds(*ms);
        } else if (flag == "--boards") {
            const auto v = value();
            if (!v)
                return failure("--boards needs a list of addresses");
            addresses = splitOn(*v, ',');
        } else if (perBoardFlags.contains(flag)) {
            const auto v = value();
            const auto setting = v ? perBoard(*v) : std::nullopt;
            if (!setting)
                return failure(flag + " needs ADDR=VALUE");
            perBoardFlags.at(flag)->push_back(*setting);
        } else {
            return failure("unknown option " + shown(args[i]));
        }
    }

    if (addresses.size() > 3)
        return failure("at most three boards share a line");
    std::map<std::string, BoardConfig> boards;
    for (const auto& address : addresses) {
        if (address.size() != 2)
            return failure("board address '" + shown(address) + "' is not two characters");
        if (boards.contains(address))
            return failure("board " + shown(address) + " given twice");
        boards[address].address = address;
    }
    const auto boardFor = [&](const std::string& address) -> BoardConfig* {
        const auto found = boards.find(address);
        return found == boards.end() ? nullptr : &found->second;
    };
    for (const auto& [address, text] : behaviours) {
        auto* b = boardFor(address);
        const auto behaviour = parseBehaviour(text);
        if (!b)
            return failure("--behaviour for " + shown(address) + ", which is not among --boards");
        if (!behaviour)
            return failure("unknown behaviour '" + shown(text) +
                           "' (see --help; a wait is whole milliseconds, at most " +
                           std::to_string(kLongestWait.count()) + ", a year)");
        b->behaviour = *behaviour;
    }
    for (const auto& [address, text] : inputs) {
        auto* b = boardFor(address);
        if (!b)
            return failure("--inputs for " + shown(address) + ", which is not among --boards");
        if (text == "loop")
            b->fixedInputs.reset();
        else if (isStates(text))
            b->fixedInputs = text;
        else
            return failure("--inputs takes eight 0/1 characters or loop, not '" + shown(text) +
                           "'");
    }
    for (const auto& [address, text] : analogs) {
        auto* b = boardFor(address);
        if (!b)
            return failure("--analog for " + shown(address) + ", which is not among --boards");
        const auto parts = splitOn(text, ',');
        const auto a = parts.size() == 2 ? protocol::digitsNumber<int>(parts[0]) : std::nullopt;
        const auto bValue =
            parts.size() == 2 ? protocol::digitsNumber<int>(parts[1]) : std::nullopt;
        if (!a || !bValue || *a > 9999 || *bValue > 9999)
            return failure("--analog takes two readings 0..9999 as A,B, not '" + shown(text) + "'");
        b->analogA = *a;
        b->analogB = *bValue;
    }
    for (const auto& [address, text] : stucks) {
        auto* b = boardFor(address);
        if (!b)
            return failure("--stuck for " + shown(address) + ", which is not among --boards");
        const auto stuck = stuckList(text);
        if (!stuck)
            return failure("--stuck takes K:S, input 1..8 and state 0 or 1, not '" + shown(text) +
                           "'");
        b->stuckInputs = *stuck;
    }
    for (const auto& [address, text] : crosses) {
        auto* b = boardFor(address);
        if (!b)
            return failure("--cross for " + shown(address) + ", which is not among --boards");
        if (b->fixedInputs)
            return failure("--cross for " + shown(address) +
                           ", whose inputs are fixed, not loop-back");
        const auto wires = wireList(text);
        if (!wires)
            return failure("--cross takes O>I, output and input 1..8, each output once, not '" +
                           shown(text) + "'");
        b->crossedInputs = *wires;
    }

    options.config.boards.clear();
    for (const auto& address : addresses) {
        boards[address].ramp = ramp;
        options.config.boards.push_back(boards[address]);
    }
    if (options.device.empty())
        options.config.baud = baud.value_or(0);
    else
        options.deviceBaud = baud.value_or(9600);
    return ParsedOptions{std::move(options), {}};
}

} // namespace rio::sim
