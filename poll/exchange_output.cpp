#include "poll/exchange_output.h"

#include "poll/console.h"
#include "protocol/frame_text.h"
#include "trace/trace_format.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <charconv>

namespace rio::poll {

namespace {

using exchange::Direction;
using exchange::ExchangeKind;
using exchange::FrameEvent;

// Plain decimal text as a number; not through the C library, whose reading
// follows the user's locale.
QJsonValue decimal(std::string_view text) {
    double value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || ptr != text.data() + text.size())
        return {};
    return value;
}

// An analog field as a decimal number, when it is one.
QJsonValue analogNumber(const protocol::AnalogField& field) {
    return field.number ? QJsonValue(field.number->value) : QJsonValue();
}

// What a read reply carries, when it passed the acceptance tests.
struct ReadFields {
    std::string inputs; // as on the line, input 8 first
    QJsonValue analog1;
    QJsonValue analog2;
};

std::optional<ReadFields> readFields(const FrameEvent& event) {
    if (event.kind != ExchangeKind::Read || !event.judged || !event.judged->framePassed())
        return std::nullopt;
    const protocol::JudgedReply& reply = *event.judged;
    ReadFields fields;
    fields.inputs = protocol::lineOrder(reply.inBits);
    fields.analog1 = analogNumber(reply.analog1);
    fields.analog2 = analogNumber(reply.analog2);
    return fields;
}

std::string jsonLine(const FrameEvent& event) {
    QJsonObject object{
        {"time", QString::fromStdString(trace::isoTime(event.time))},
        {"board", event.board},
        {"address", QString::fromLatin1(event.address.data(), qsizetype(event.address.size()))},
        {"kind", exchange::kindWord(event.kind)},
        {"outcome", exchange::outcomeWord(event.outcome)},
        // The trace's milliseconds, so both say the same.
        {"response_ms",
         event.response ? decimal(trace::millisecondsText(*event.response)) : QJsonValue()},
    };
    if (event.kind == ExchangeKind::Read) {
        const std::optional<ReadFields> fields = readFields(event);
        object.insert(QStringLiteral("inputs"),
                      fields ? QJsonValue(QString::fromStdString(fields->inputs)) : QJsonValue());
        object.insert(QStringLiteral("analog1"), fields ? fields->analog1 : QJsonValue());
        object.insert(QStringLiteral("analog2"), fields ? fields->analog2 : QJsonValue());
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + '\n';
}

QString shownNumber(const QJsonValue& value) {
    return value.isDouble() ? QString::number(value.toDouble()) : QString();
}

// time, board, address, kind, outcome, response, inputs, analog1, analog2
const char* const kTableFormat = "%-24s %5s %-7s %-5s %-16s %11s %-8s %7s %7s\n";

std::string tableLine(const FrameEvent& event) {
    const std::optional<ReadFields> fields = readFields(event);
    const std::string response =
        event.response ? trace::millisecondsText(*event.response) + " ms" : std::string();
    // Reply bytes in the readable form, as the monitor shows them: a board or
    // noise on the line must not reach the terminal's controls, and a NUL must
    // not end the column.
    const std::string address = protocol::readableFrame(event.address);
    const std::string inputs = fields ? protocol::readableFrame(fields->inputs) : std::string();
    char line[256];
    std::snprintf(line, sizeof line, kTableFormat, trace::isoTime(event.time).c_str(),
                  std::to_string(event.board).c_str(), address.c_str(),
                  exchange::kindWord(event.kind), exchange::outcomeWord(event.outcome),
                  response.c_str(), inputs.c_str(),
                  fields ? qPrintable(shownNumber(fields->analog1)) : "",
                  fields ? qPrintable(shownNumber(fields->analog2)) : "");
    // A write has no inputs or readings: no blanks left at its end.
    std::string text = line;
    text.erase(text.find_last_not_of(" \n") + 1);
    return text + '\n';
}

} // namespace

ExchangePrinter::ExchangePrinter(OutputFormat format, std::FILE* out)
    : m_format(format), m_out(out) {}

std::string ExchangePrinter::header() const {
    switch (m_format) {
    case OutputFormat::Table: {
        char line[256];
        std::snprintf(line, sizeof line, kTableFormat, "time", "board", "address", "kind",
                      "outcome", "response", "inputs", "analog1", "analog2");
        return line;
    }
    case OutputFormat::Csv:
        return std::string(trace::kTraceHeader) + std::string(trace::kCsvLineEnd);
    case OutputFormat::Jsonl:
        return {};
    }
    return {};
}

std::string ExchangePrinter::line(const FrameEvent& event) const {
    if (m_format == OutputFormat::Csv)
        return trace::traceRow(event);
    // One line per exchange, when its wait has ended.
    if (event.direction != Direction::Rx)
        return {};
    return m_format == OutputFormat::Jsonl ? jsonLine(event) : tableLine(event);
}

void ExchangePrinter::frame(const FrameEvent& event) {
    if (!m_headerDone) {
        m_headerDone = true;
        put(header());
    }
    put(line(event));
}

void ExchangePrinter::put(const std::string& text) {
    if (text.empty() || m_closed)
        return;
    if (!consoleWrite(m_out, text)) {
        m_closed = true;
        if (m_onClosed)
            m_onClosed();
    }
}

QString pollSummary(const trace::LineCounters& counters,
                    const std::vector<protocol::BoardAddr>& boards) {
    QString text;
    for (std::size_t i = 0; i < boards.size(); ++i) {
        const int board = int(i) + 1;
        const trace::BoardCounts& c = counters.counts(board);
        const std::uint64_t rejected =
            c.rejectedLength + c.rejectedAck + c.rejectedCommand + c.rejectedEtx + c.rejectedAnalog;
        text +=
            QStringLiteral("board %1 (%2): %3 exchanges, %4 accepted, %5 rejected, %6 no answer")
                .arg(board)
                .arg(QString::fromStdString(protocol::readableFrame(boards[i])))
                .arg(c.readsStarted + c.writesStarted)
                .arg(c.accepted)
                .arg(rejected)
                .arg(c.noAnswer);
        if (c.portFailures > 0)
            text += QStringLiteral(", %1 port errors").arg(c.portFailures);
        if (const auto times = counters.responseTimes(board))
            text += QStringLiteral("; response median %1 ms, p95 %2 ms, max %3 ms")
                        .arg(QString::fromStdString(trace::millisecondsText(times->median)),
                             QString::fromStdString(trace::millisecondsText(times->p95)),
                             QString::fromStdString(trace::millisecondsText(times->max)));
        else
            text += QStringLiteral("; no response timed");
        if (const std::string failure = counters.lastFailureText(board); !failure.empty())
            text += QStringLiteral("; last failure: %1").arg(QString::fromStdString(failure));
        text += QLatin1Char('\n');
    }
    return text;
}

bool allAccepted(const trace::LineCounters& counters, std::size_t boards) {
    for (std::size_t i = 0; i < boards; ++i) {
        const trace::BoardCounts& c = counters.counts(int(i) + 1);
        if (c.readsStarted + c.writesStarted != c.accepted)
            return false;
    }
    return true;
}

} // namespace rio::poll
