#include "exchange.h"

#include <QString>

#include <algorithm>

namespace rio::exchange {

namespace {

using namespace std::chrono;

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
void blankRead(const Line& line, const Board& board, const QString& status) {
    BoardDisplay& display = *board.display;
    display.setStatus(status);
    display.showReadReply({});
    display.showAnalog1({});
    display.showAnalog2({});
    for (int k = 0; k < 8; ++k)
        display.setIndicator(k, false);
    *line.readBusy = 0;
}

void blankWrite(const Line& line, const Board& board, const QString& status) {
    board.display->setStatus(status);
    board.display->showWriteReply({});
    *line.writeBusy = 0;
}

// Bytes already waiting when a request goes out answer no request of this
// exchange: a reply that came after its exchange gave up, bytes a board sent
// past its ETX, line noise. Left in place they would be taken as this reply,
// and its own reply in turn as the next exchange's, so that one late board
// would put every exchange after it one reply behind.
void dropStaleInput(const Line& line) {
    line.port->discardInput();
}

} // namespace

microseconds exchangeLineTime(std::int32_t speed) {
    const std::int64_t bitsPerSecond = speed > 0 ? speed : 9600;
    return microseconds(std::int64_t(kExchangeBytes) * kBitsPerByte * 1'000'000 / bitsPerSecond);
}

microseconds waitBudget(std::int32_t speed) {
    return 2 * exchangeLineTime(speed) + kReplyAllowance;
}

Outcome collectReply(const Line& line, std::string& reply) {
    reply.clear();
    const microseconds quiet = exchangeLineTime(*line.speed);
    const microseconds spread = waitBudget(*line.speed) - quiet;
    const Clock::time_point start = Clock::now();
    line.pump->beginWait(spread / kPollLimit);
    struct EndWait {
        EventPump* pump;
        ~EndWait() { pump->endWait(); }
    } endWait{line.pump};

    for (int polls = 0;;) {
        // Poll k is due k/5000 of the way from the end of the quiet stretch
        // to the end of the wait; data and user events bring it forward.
        line.pump->pumpUntil(start + quiet + spread * (polls + 1) / kPollLimit);
        if (++polls > kPollLimit)
            return Outcome::TimedOut;
        // Earlier reads held no ETX, or the wait would have ended: ETX in
        // this read is ETX anywhere in the reply.
        const std::string read = line.port->input();
        reply.append(read, 0, kReplyKept - std::min(kReplyKept, reply.size()));
        if (protocol::replyComplete(read))
            return Outcome::Complete;
    }
}

void readBoard(const Line& line, const Board& board) {
    try {
        if (*line.readBusy == 1 || *line.writeBusy == 1)
            return;
        *line.readBusy = 1;

        const std::string request = protocol::buildReadRequest(*board.boardAddr);
        line.pump->pumpOnce();
        dropStaleInput(line);
        line.port->output(request);
        board.display->showReadRequest(request);
        line.pump->pumpOnce();

        std::string reply;
        if (collectReply(line, reply) == Outcome::TimedOut) {
            blankRead(line, board, noAnswerText(board.number));
            return;
        }
        *line.readBusy = 0;
        board.display->setStatus(readOkText(board.number));

        // A reply that fails the acceptance tests is no reading: it blanks
        // the display and says so, rather than leaving an older reply on show
        // under an OK.
        if (protocol::judgeReadReply(reply) != protocol::Verdict::Accepted) {
            blankRead(line, board, readErrorText(board.number));
            return;
        }
        board.display->showReadReply(reply);
        const protocol::ReadReply decoded = protocol::decodeReadReply(reply);
        *board.inBits = decoded.inBits;
        for (int k = 0; k < 8; ++k)
            board.display->setIndicator(k, decoded.inBits[std::size_t(k)] == '1');
        *board.adRawA = decoded.analogA;
        *board.adRawB = decoded.analogB;

        // An analog field that is not a number is treated as no answer, after
        // the reply box and indicators were already shown.
        const std::optional<std::string> analog1 = protocol::analogDisplayText(*board.adRawA);
        if (!analog1) {
            blankRead(line, board, noAnswerText(board.number));
            return;
        }
        board.display->showAnalog1(QString::fromStdString(*analog1));
        const std::optional<std::string> analog2 = protocol::analogDisplayText(*board.adRawB);
        if (!analog2) {
            blankRead(line, board, noAnswerText(board.number));
            return;
        }
        board.display->showAnalog2(QString::fromStdString(*analog2));
        line.pump->pumpOnce();
    } catch (const serial::PortError&) {
        blankRead(line, board, noAnswerText(board.number));
    }
}

void writeBoard(const Line& line, const Board& board) {
    try {
        if (*line.writeBusy == 1 || *line.readBusy == 1)
            return;
        *line.writeBusy = 1;

        // Built and sent with no pump between.
        const std::string request = protocol::buildWriteRequest(*board.boardAddr, *board.outBits);
        dropStaleInput(line);
        line.port->output(request);
        board.display->showWriteRequest(request);
        line.pump->pumpOnce();

        std::string reply;
        if (collectReply(line, reply) == Outcome::TimedOut) {
            blankWrite(line, board, noAnswerText(board.number));
            return;
        }
        board.display->setStatus(writeOkText(board.number));
        *line.writeBusy = 0;

        if (protocol::judgeWriteReply(reply) != protocol::Verdict::Accepted) {
            blankWrite(line, board, writeErrorText(board.number));
            return;
        }
        board.display->showWriteReply(reply);
        line.pump->pumpOnce();
    } catch (const serial::PortError&) {
        blankWrite(line, board, noAnswerText(board.number));
    }
}

} // namespace rio::exchange
