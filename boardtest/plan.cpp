#include "boardtest/plan.h"

#include "protocol/frame_text.h"
#include "protocol/numbers.h"

#include <QRegularExpression>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <set>

namespace rio::boardtest {

namespace {

using protocol::excerpt;

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::optional<double> number(std::string_view text) {
    double value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (text.empty() || ec != std::errc{} || ptr != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::vector<std::string_view> splitOn(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = text.find(separator);
        parts.push_back(trimmed(text.substr(0, at)));
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + 1);
    }
}

// The keys each section knows. [line] holds no step; the others are steps.
const std::map<std::string, std::set<std::string>, std::less<>> kKnown = {
    {"line", {"speed", "board"}}, {"communication", {"cycles", "max_failures", "max_response_ms"}},
    {"loopback", {"map"}},        {"analog1", {"min", "max"}},
    {"analog2", {"min", "max"}},  {"unit", {"pattern"}},
};

std::string joined(const std::set<std::string>& names) {
    std::string text;
    for (const auto& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

struct Failure {
    PlanError error;
};

[[noreturn]] void refuse(int line, std::string message) {
    throw Failure{PlanError{line, std::move(message)}};
}

// "1>1,2>2,...": output k drives input j. Each output and each input at most
// once, or a lit input could not be put down to one output. riosim's --cross
// reads the same items differently on purpose: no blanks (it comes from a
// command line, not a hand-edited file), and an input may be named by several
// outputs, a wiring fault it plays.
std::vector<LoopLink> parseMap(int line, std::string_view text) {
    std::vector<LoopLink> links;
    std::set<int> outputs, inputs;
    for (std::string_view item : splitOn(text, ',')) {
        const auto arrow = item.find('>');
        const auto output = arrow == std::string_view::npos
                                ? std::nullopt
                                : protocol::digitsNumber<long long>(trimmed(item.substr(0, arrow)));
        const auto input = arrow == std::string_view::npos
                               ? std::nullopt
                               : protocol::digitsNumber<long long>(trimmed(item.substr(arrow + 1)));
        if (!output || !input || *output < 1 || *output > 8 || *input < 1 || *input > 8)
            refuse(line,
                   "map entry '" + excerpt(item) + "' is not OUTPUT>INPUT with both from 1 to 8");
        if (!outputs.insert(int(*output)).second)
            refuse(line, "map drives output " + std::to_string(*output) + " twice");
        if (!inputs.insert(int(*input)).second)
            refuse(line, "map sees input " + std::to_string(*input) + " twice");
        links.push_back({int(*output), int(*input)});
    }
    return links;
}

class Reader {
public:
    Plan read(std::string_view text) {
        if (text.starts_with("\xEF\xBB\xBF")) // a byte order mark some editors add
            text.remove_prefix(3);
        int lineNumber = 0;
        while (!text.empty()) {
            ++lineNumber;
            const auto newline = text.find('\n');
            std::string_view line = text.substr(0, newline);
            text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
            // A comment runs from ';' or '#' to the end of the line; no value
            // the plan knows holds either character.
            line = trimmed(line.substr(0, line.find_first_of(";#")));
            if (!line.empty())
                take(lineNumber, line);
        }
        finish();
        return m_plan;
    }

private:
    void take(int line, std::string_view text) {
        if (text.front() == '[') {
            if (text.back() != ']')
                refuse(line, "a section header ends with ']'");
            const std::string name(trimmed(text.substr(1, text.size() - 2)));
            if (!kKnown.contains(name))
                refuse(line, "unknown section [" + excerpt(name) +
                                 "]; known: [line], [communication], [loopback], [analog1], "
                                 "[analog2], [unit]");
            if (m_sectionLines.contains(name))
                refuse(line, "section [" + name + "] appears a second time (first on line " +
                                 std::to_string(m_sectionLines[name]) + ")");
            m_sectionLines[name] = line;
            m_section = name;
            startSection(name);
            return;
        }
        const auto eq = text.find('=');
        if (eq == std::string_view::npos)
            refuse(line,
                   "'" + excerpt(text) + "' is neither a [section] nor key=value nor a comment");
        const std::string key(trimmed(text.substr(0, eq)));
        const std::string_view value = trimmed(text.substr(eq + 1));
        if (m_section.empty())
            refuse(line, "key '" + excerpt(key) + "' comes before any [section]");
        const auto& known = kKnown.find(m_section)->second;
        if (!known.contains(key))
            refuse(line, "unknown key '" + excerpt(key) + "' in [" + m_section +
                             "]; known: " + joined(known));
        if (!m_keysSeen.insert(m_section + "." + key).second)
            refuse(line, "key '" + key + "' appears a second time in [" + m_section + "]");
        if (value.empty())
            refuse(line, "key '" + key + "' has no value");
        setValue(line, key, value);
    }

    void startSection(const std::string& name) {
        if (name == "communication")
            m_plan.communication.emplace();
        else if (name == "loopback")
            m_plan.loopback.emplace();
        else if (name == "analog1")
            m_plan.analog1.emplace();
        else if (name == "analog2")
            m_plan.analog2.emplace();
    }

    void setValue(int line, const std::string& key, std::string_view value) {
        const std::string where = "[" + m_section + "] " + key + "=" + excerpt(value) + ": ";
        if (m_section == "line" && key == "speed") {
            const auto speed = protocol::digitsNumber<long long>(value);
            if (!speed || *speed < 1 || *speed > 4'000'000)
                refuse(line, where + "the speed is a whole number of bit/s, e.g. 9600");
            m_plan.speed = std::int32_t(*speed);
        } else if (m_section == "line" && key == "board") {
            const auto address = boardAddress(value);
            if (!address)
                refuse(line, where + "the board address is one or two characters, e.g. 01");
            m_plan.board = *address;
        } else if (m_section == "communication" && key == "cycles") {
            const auto cycles = protocol::digitsNumber<long long>(value);
            if (!cycles || *cycles < 1 || *cycles > 1'000'000)
                refuse(line, where + "cycles is a whole number from 1");
            m_plan.communication->cycles = int(*cycles);
        } else if (m_section == "communication" && key == "max_failures") {
            const auto failures = protocol::digitsNumber<long long>(value);
            if (!failures || *failures < 0 || *failures > 2'000'000)
                refuse(line, where + "max_failures is a whole number from 0");
            m_plan.communication->maxFailures = int(*failures);
        } else if (m_section == "communication" && key == "max_response_ms") {
            const auto ms = number(value);
            if (!ms || *ms < 0)
                refuse(line, where + "max_response_ms is a number of milliseconds from 0");
            m_plan.communication->maxResponseMs = *ms;
        } else if (m_section == "unit" && key == "pattern") {
            const QRegularExpression pattern(
                QString::fromUtf8(value.data(), qsizetype(value.size())));
            if (!pattern.isValid())
                refuse(line, where + "the pattern is not a regular expression: " +
                                 pattern.errorString().toStdString());
            m_plan.unitPattern = std::string(value);
        } else if (m_section == "loopback" && key == "map") {
            m_plan.loopback = parseMap(line, value);
        } else {
            // min or max of an analog section
            const auto limit = number(value);
            if (!limit)
                refuse(line, where + key + " is a number, e.g. 100 or 2.5");
            Limits& limits = m_section == "analog1" ? *m_plan.analog1 : *m_plan.analog2;
            (key == "min" ? limits.min : limits.max) = *limit;
            m_limitLines[m_section] = line;
        }
    }

    // What only the whole file shows.
    void finish() {
        // An empty plan would pass on teardown alone: no test is not a pass.
        if (!m_plan.communication && !m_plan.loopback && !m_plan.analog1 && !m_plan.analog2)
            refuse(0, "the plan has no step; give it [communication], [loopback] or both");
        if (m_plan.loopback && m_plan.loopback->empty())
            refuse(m_sectionLines["loopback"], "[loopback] needs a map, e.g. map=1>1,2>2");
        for (const char* name : {"analog1", "analog2"}) {
            const auto& limits = std::string(name) == "analog1" ? m_plan.analog1 : m_plan.analog2;
            if (!limits)
                continue;
            const std::string section = std::string("[").append(name).append("]");
            if (limits->min && limits->max && *limits->min > *limits->max)
                refuse(m_limitLines[name], section + " min is above max; nothing could pass");
            // The readings are those of the communication step's reads.
            if (!m_plan.communication)
                refuse(m_sectionLines[name], section + " takes its readings from the reads of "
                                                       "[communication], which the plan lacks");
        }
    }

    Plan m_plan;
    std::string m_section;
    std::map<std::string, int> m_sectionLines;
    std::map<std::string, int> m_limitLines;
    std::set<std::string> m_keysSeen;
};

} // namespace

ParsedPlan parsePlan(std::string_view text) {
    try {
        return ParsedPlan{Reader().read(text), {}};
    } catch (const Failure& failure) {
        return ParsedPlan{std::nullopt, failure.error};
    }
}

std::optional<protocol::BoardAddr> boardAddress(std::string_view text) {
    const bool printable = std::ranges::all_of(text, [](char c) { return c > ' ' && c < 0x7F; });
    if (text.empty() || text.size() > 2 || !printable)
        return std::nullopt;
    return protocol::addressRule(std::u32string(text.begin(), text.end()));
}

std::string describe(const PlanError& error) {
    if (error.line == 0)
        return error.message;
    return "line " + std::to_string(error.line) + ": " + error.message;
}

} // namespace rio::boardtest
