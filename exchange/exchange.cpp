#include "exchange/exchange.h"

#include "protocol/frame_text.h"

#include <QLoggingCategory>
#include <QString>

#include <algorithm>

namespace rio::exchange {

namespace {

using namespace std::chrono;

// Failures with their reasons are warnings; every frame is debug detail.
Q_LOGGING_CATEGORY(lcExchange, "rio.exchange", QtInfoMsg)

constexpr int kExchangeBytes = 26; // request plus reply, either kind
constexpr int kBitsPerByte = 10;   // start bit, 8 data bits, stop bit
constexpr microseconds kReplyAllowance = milliseconds(150);

QString readOkText(int n) {
    return QStringLiteral("#%1 Read OK").arg(n);
}
QString writeOkText(int n) {
    return QStringLiteral("#%1 Write OK").arg(n);
}
QString readErrorText(int n) {
    return QStringLiteral("#%1 Read Error").arg(n);
}
QString writeErrorText(int n) {
    return QStringLiteral("#%1 Write Error").arg(n);
}
QString noAnswerText(int n) {
    return QStringLiteral("#%1 응답이 없습니다").arg(n);
}

// A read that ended without a usable reply blanks what the board showed, so
// nothing on the panel passes for a current reading.
void blankRead(Line& line, const Board& board, const QString& status) {
    BoardDisplay& display = *board.display;
    display.setStatus(status);
    display.showReadReply({});
    display.showAnalog1({});
    display.showAnalog2({});
    for (int k = 0; k < 8; ++k)
        display.setIndicator(k, false);
    line.readBusy() = 0;
}

void blankWrite(Line& line, const Board& board, const QString& status) {
    board.display->setStatus(status);
    board.display->showWriteReply({});
    line.writeBusy() = 0;
}

// Bytes already waiting when a request goes out answer no request of this
// exchange: a reply that came after its exchange gave up, bytes a board sent
// past its ETX, line noise. Left in place they would be taken as this reply,
// and its own reply in turn as the next exchange's, so that one late board
// would put every exchange after it one reply behind.
void dropStaleInput(Line& line) {
    line.port().discardInput();
}

// One exchange's traffic as it is reported: sends the request and waits for
// the reply, telling the line's observer about each frame and the log about
// a failure. The time is taken here: a TX frame is reported right after the
// port took it, an RX frame right after its wait ended.
class Reporter {
public:
    Reporter(Line& line, const Board& board, ExchangeKind kind)
        : m_line(line), m_board(board), m_kind(kind) {}

    // Drops stale input, then hands the request to the port whole.
    void send(std::string_view request) {
        dropStaleInput(m_line);
        m_line.port().output(request);
        sent(request);
    }

    // Waits for the reply; a wait that gives up is reported at once.
    [[nodiscard]] Outcome awaitReply(std::string& reply) {
        const Outcome waited = collectReply(m_line, reply);
        m_endedAt = Clock::now();
        if (waited == Outcome::TimedOut)
            received(reply, FrameOutcome::NoAnswer, nullptr);
        return waited;
    }

    // A reply that came whole, as judged.
    void received(std::string_view reply, const protocol::JudgedReply& judged) {
        received(reply, outcomeOf(judged.verdict), &judged);
    }

    void sent(std::string_view request) {
        m_sentAt = Clock::now();
        qCDebug(lcExchange).noquote() << "board" << m_board.number << kindWord(m_kind) << "TX"
                                      << protocol::readableFrame(request).c_str();
        tell(Direction::Tx, request, FrameOutcome::None, std::nullopt, {}, nullptr);
    }

    void portFailed(const serial::PortError& error) {
        failed(std::string("port-error: ") + error.what(),
               QStringLiteral("failed on the port: %1").arg(QString::fromLocal8Bit(error.what())));
        tell(Direction::Rx, {}, FrameOutcome::PortError, std::nullopt, error.what(), nullptr);
    }

private:
    void received(std::string_view reply, FrameOutcome outcome,
                  const protocol::JudgedReply* judged) {
        std::optional<microseconds> response;
        if (m_sentAt && outcome != FrameOutcome::NoAnswer)
            response = duration_cast<microseconds>(m_endedAt - *m_sentAt);
        if (outcome == FrameOutcome::Ok) {
            qCDebug(lcExchange).noquote() << "board" << m_board.number << kindWord(m_kind) << "RX"
                                          << protocol::readableFrame(reply).c_str();
            recovered();
        } else {
            const auto waited =
                duration_cast<milliseconds>(m_endedAt - m_sentAt.value_or(m_endedAt));
            failed(outcomeWord(outcome),
                   QStringLiteral("%1 after %2 ms: %3")
                       .arg(QLatin1String(outcomeWord(outcome)))
                       .arg(waited.count())
                       .arg(reply.empty()
                                ? QStringLiteral("nothing received")
                                : QString::fromStdString(protocol::readableFrame(reply))));
        }
        tell(Direction::Rx, reply, outcome, response, {}, judged);
    }

    std::string& logged() {
        return m_kind == ExchangeKind::Read ? m_board.state->readFailureLogged
                                            : m_board.state->writeFailureLogged;
    }

    // A warning the first time a failure of this kind is seen, debug detail
    // while it repeats.
    void failed(const std::string& what, const QString& detail) {
        const QString line = QStringLiteral("board %1 (%2) %3 %4")
                                 .arg(m_board.number)
                                 .arg(QString::fromLatin1(m_board.state->address.c_str()))
                                 .arg(QLatin1String(kindWord(m_kind)), detail);
        if (logged() == what) {
            qCDebug(lcExchange).noquote() << line;
            return;
        }
        logged() = what;
        qCWarning(lcExchange).noquote() << line;
    }

    void recovered() {
        if (logged().empty())
            return;
        logged().clear();
        qCInfo(lcExchange).noquote()
            << "board" << m_board.number << kindWord(m_kind) << "answers again";
    }

    void tell(Direction direction, std::string_view bytes, FrameOutcome outcome,
              std::optional<microseconds> response, std::string reason,
              const protocol::JudgedReply* judged) {
        FrameFanout& listeners = m_line.frames();
        if (listeners.empty())
            return;
        FrameEvent event;
        event.board = m_board.number;
        event.address = m_board.state->address;
        event.kind = m_kind;
        event.direction = direction;
        event.bytes = bytes;
        event.time = system_clock::now();
        event.outcome = outcome;
        event.response = response;
        event.reason = std::move(reason);
        event.judged = judged;
        listeners.frame(event);
    }

    Line& m_line;
    const Board& m_board;
    ExchangeKind m_kind;
    std::optional<Clock::time_point> m_sentAt;
    Clock::time_point m_endedAt;
};

} // namespace

Line::Line(serial::SerialControl& port, std::unique_ptr<EventPump> pump)
    : m_port(port), m_pump(std::move(pump)) {
    if (!m_pump)
        m_pump = std::make_unique<QtEventPump>();
}

microseconds exchangeLineTime(std::int32_t speed) {
    const std::int64_t bitsPerSecond = speed > 0 ? speed : 9600;
    return microseconds(std::int64_t(kExchangeBytes) * kBitsPerByte * 1'000'000 / bitsPerSecond);
}

microseconds waitBudget(std::int32_t speed) {
    return 2 * exchangeLineTime(speed) + kReplyAllowance;
}

Outcome collectReply(Line& line, std::string& reply) {
    reply.clear();
    const microseconds quiet = exchangeLineTime(line.speed());
    const microseconds spread = waitBudget(line.speed()) - quiet;
    const Clock::time_point start = Clock::now();
    line.pump().beginWait(spread / kPollLimit);
    struct EndWait {
        EventPump* pump;
        ~EndWait() { pump->endWait(); }
    } endWait{&line.pump()};

    for (int polls = 0;;) {
        // Poll k is due k/5000 of the way from the end of the quiet stretch
        // to the end of the wait; data and user events bring it forward.
        line.pump().pumpUntil(start + quiet + spread * (polls + 1) / kPollLimit);
        if (++polls > kPollLimit)
            return Outcome::TimedOut;
        // Earlier reads held no ETX, or the wait would have ended: ETX in
        // this read is ETX anywhere in the reply.
        const std::string read = line.port().input();
        reply.append(read, 0, kReplyKept - std::min(kReplyKept, reply.size()));
        if (protocol::replyComplete(read))
            return Outcome::Complete;
    }
}

void readBoard(Line& line, const Board& board) {
    BoardState& state = *board.state;
    Reporter report(line, board, ExchangeKind::Read);
    try {
        if (line.refusing() || line.readBusy() == 1 || line.writeBusy() == 1)
            return;
        line.readBusy() = 1;

        const std::string request = protocol::buildReadRequest(state.address);
        line.pump().pumpOnce();
        report.send(request);
        board.display->showReadRequest(request);
        line.pump().pumpOnce();

        std::string reply;
        if (report.awaitReply(reply) == Outcome::TimedOut) {
            blankRead(line, board, noAnswerText(board.number));
            return;
        }
        const protocol::JudgedReply judged = protocol::judgeRead(reply);
        report.received(reply, judged);
        line.readBusy() = 0;
        board.display->setStatus(readOkText(board.number));

        // A reply that fails the acceptance tests is no reading: it blanks
        // the display and says so, rather than leaving an older reply on show
        // under an OK.
        if (!judged.framePassed()) {
            blankRead(line, board, readErrorText(board.number));
            return;
        }
        board.display->showReadReply(reply);
        state.inBits = judged.inBits;
        for (int k = 0; k < 8; ++k)
            board.display->setIndicator(k, judged.inBits[std::size_t(k)] == '1');
        state.adRawA = judged.analog1.field;
        state.adRawB = judged.analog2.field;

        // An analog field that is not a number is treated as no answer, after
        // the reply box and indicators were already shown.
        if (!judged.analog1.number) {
            blankRead(line, board, noAnswerText(board.number));
            return;
        }
        board.display->showAnalog1(QString::fromStdString(judged.analog1.number->text));
        if (!judged.analog2.number) {
            blankRead(line, board, noAnswerText(board.number));
            return;
        }
        board.display->showAnalog2(QString::fromStdString(judged.analog2.number->text));
        line.pump().pumpOnce();
    } catch (const serial::PortError& error) {
        report.portFailed(error);
        blankRead(line, board, noAnswerText(board.number));
    }
}

void writeBoard(Line& line, const Board& board) {
    Reporter report(line, board, ExchangeKind::Write);
    try {
        if (line.refusing() || line.writeBusy() == 1 || line.readBusy() == 1)
            return;
        line.writeBusy() = 1;

        // Built and sent with no pump between.
        const std::string request =
            protocol::buildWriteRequest(board.state->address, board.state->outBits);
        report.send(request);
        board.display->showWriteRequest(request);
        line.pump().pumpOnce();

        std::string reply;
        if (report.awaitReply(reply) == Outcome::TimedOut) {
            blankWrite(line, board, noAnswerText(board.number));
            return;
        }
        const protocol::JudgedReply judged = protocol::judgeWrite(reply);
        report.received(reply, judged);
        board.display->setStatus(writeOkText(board.number));
        line.writeBusy() = 0;

        if (!judged.accepted()) {
            blankWrite(line, board, writeErrorText(board.number));
            return;
        }
        board.display->showWriteReply(reply);
        line.pump().pumpOnce();
    } catch (const serial::PortError& error) {
        report.portFailed(error);
        blankWrite(line, board, noAnswerText(board.number));
    }
}

} // namespace rio::exchange
