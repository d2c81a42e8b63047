#include "trace/counters.h"

#include "protocol/frame_text.h"
#include "protocol/numbers.h"
#include "trace/trace_format.h"

#include <QDateTime>

#include <algorithm>

namespace rio::trace {

namespace {

using namespace std::chrono;
using exchange::Direction;
using exchange::ExchangeKind;
using exchange::FrameOutcome;

QString msText(microseconds duration) {
    return QString::fromLatin1(millisecondsText(duration)) + QStringLiteral(" ms");
}

} // namespace

const LineCounters::Board* LineCounters::board(int number) const {
    if (number < 1 || number > kBoardCount)
        return nullptr;
    return &m_boards[static_cast<std::size_t>(number - 1)];
}

void LineCounters::count(const exchange::FrameEvent& event) {
    if (event.board < 1 || event.board > kBoardCount)
        return;
    Board& b = m_boards[static_cast<std::size_t>(event.board - 1)];
    const bool read = event.kind == ExchangeKind::Read;
    bool& inFlight = read ? b.readInFlight : b.writeInFlight;
    std::uint64_t& started = read ? b.counts.readsStarted : b.counts.writesStarted;

    if (event.direction == Direction::Tx) {
        ++started;
        inFlight = true;
        return;
    }
    // An exchange whose port failed before its request went out tells only
    // its ending; it was started all the same.
    if (!inFlight)
        ++started;
    inFlight = false;

    switch (event.outcome) {
    case FrameOutcome::Ok:
        ++b.counts.accepted;
        break;
    case FrameOutcome::RejectedEtx:
        ++b.counts.rejectedEtx;
        break;
    case FrameOutcome::RejectedAck:
        ++b.counts.rejectedAck;
        break;
    case FrameOutcome::RejectedCommand:
        ++b.counts.rejectedCommand;
        break;
    case FrameOutcome::RejectedLength:
        ++b.counts.rejectedLength;
        break;
    case FrameOutcome::RejectedAnalog:
        ++b.counts.rejectedAnalog;
        break;
    case FrameOutcome::NoAnswer:
        ++b.counts.noAnswer;
        break;
    case FrameOutcome::PortError:
        ++b.counts.portFailures;
        break;
    case FrameOutcome::None:
        break;
    }

    if (event.response) {
        b.responses[b.nextResponse] = *event.response;
        b.nextResponse = (b.nextResponse + 1) % kResponseWindow;
        b.responseCount = std::min(b.responseCount + 1, kResponseWindow);
    }

    if (event.outcome != FrameOutcome::Ok) {
        if (!b.lastFailure)
            b.lastFailure.emplace();
        LastFailure& failure = *b.lastFailure;
        failure.time = event.time;
        failure.kind = event.kind;
        failure.outcome = event.outcome;
        const std::size_t kept = std::min(event.bytes.size(), kFailureBytesKept);
        failure.bytes.assign(event.bytes, 0, kept);
        failure.bytesCut = kept < event.bytes.size();
        failure.reason = event.reason;
    }
}

void LineCounters::reset() {
    m_boards = {};
}

const BoardCounts& LineCounters::counts(int number) const {
    static const BoardCounts kNothing;
    const Board* b = board(number);
    return b ? b->counts : kNothing;
}

std::optional<ResponseTimes> LineCounters::responseTimes(int number) const {
    const Board* b = board(number);
    if (!b || b->responseCount == 0)
        return std::nullopt;
    const std::size_t n = b->responseCount;
    // Not yet full, the window holds slots 0..n-1; full, all of them.
    std::array<microseconds, kResponseWindow> sorted{};
    std::copy_n(b->responses.begin(), n, sorted.begin());
    const auto first = sorted.begin();
    const auto end = first + static_cast<std::ptrdiff_t>(n);

    ResponseTimes times;
    times.samples = n;
    times.last = b->responses[(b->nextResponse + kResponseWindow - 1) % kResponseWindow];
    times.max = *std::max_element(first, end);
    const auto median = first + static_cast<std::ptrdiff_t>(protocol::nearestRankIndex(n, 50));
    std::nth_element(first, median, end);
    times.median = *median;
    const auto p95 = first + static_cast<std::ptrdiff_t>(protocol::nearestRankIndex(n, 95));
    std::nth_element(first, p95, end);
    times.p95 = *p95;
    return times;
}

const std::optional<LastFailure>& LineCounters::lastFailure(int number) const {
    static const std::optional<LastFailure> kNone;
    const Board* b = board(number);
    return b ? b->lastFailure : kNone;
}

std::string LineCounters::lastFailureText(int number) const {
    const std::optional<LastFailure>& failure = lastFailure(number);
    if (!failure)
        return {};
    std::string text = exchange::outcomeWord(failure->outcome);
    if (!failure->reason.empty())
        text += ": " + failure->reason;
    if (!failure->bytes.empty()) {
        text += ' ';
        text += protocol::readableFrame(failure->bytes);
        if (failure->bytesCut)
            text += "...";
    }
    return text;
}

QString boardTooltip(const LineCounters& counters, int board) {
    const BoardCounts& c = counters.counts(board);
    QStringList lines;
    lines << QStringLiteral("Board %1 since the port was opened").arg(board);
    lines << QStringLiteral("Reads started %1, writes started %2")
                 .arg(c.readsStarted)
                 .arg(c.writesStarted);
    lines << QStringLiteral("Accepted %1").arg(c.accepted);
    lines << QStringLiteral("Rejected: length %1, ACK %2, command %3, ETX %4")
                 .arg(c.rejectedLength)
                 .arg(c.rejectedAck)
                 .arg(c.rejectedCommand)
                 .arg(c.rejectedEtx);
    lines << QStringLiteral("Analog field not a number %1").arg(c.rejectedAnalog);
    lines << QStringLiteral("No answer %1").arg(c.noAnswer);
    lines << QStringLiteral("Port failures %1").arg(c.portFailures);
    if (const std::optional<ResponseTimes> times = counters.responseTimes(board)) {
        lines << QStringLiteral("Response over the last %1: last %2, median %3, 95th percentile "
                                "%4, max %5")
                     .arg(times->samples)
                     .arg(msText(times->last), msText(times->median), msText(times->p95),
                          msText(times->max));
    } else {
        lines << QStringLiteral("Response: no reply yet");
    }
    if (const std::optional<LastFailure>& failure = counters.lastFailure(board)) {
        const qint64 ms = duration_cast<milliseconds>(failure->time.time_since_epoch()).count();
        lines << QStringLiteral("Last failure %1: %2")
                     .arg(QDateTime::fromMSecsSinceEpoch(ms).toString(
                              QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")),
                          QString::fromStdString(counters.lastFailureText(board)));
    } else {
        lines << QStringLiteral("Last failure: none");
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace rio::trace
