#pragma once
// The order the poll timer promises, for tests that watch the requests on the
// line ("R01", "W01", ...): each board's read followed by its write, the
// first board first, and after a board the next in turn, or the same board
// once more. A tick handled at an exchange's last event pump serves the board
// that just finished again (as the README says), and a machine that holds the
// process past a tick makes that more likely; a board skipped is a fault.

#include <QStringList>

namespace rio::test {

// Empty when `seen` keeps the turn, else what broke it, for the failure.
inline QString turnBroken(const QStringList& seen, int first = 1) {
    int before = 0;
    for (qsizetype i = 0; i + 1 < seen.size(); i += 2) {
        const int board = seen[i].right(1).toInt();
        const bool pair = seen[i] == QStringLiteral("R0%1").arg(board) &&
                          seen[i + 1] == QStringLiteral("W0%1").arg(board);
        const bool inTurn =
            before == 0 ? board == first : board == before || board == before % 3 + 1;
        if (!pair || !inTurn)
            return QStringLiteral("at %1: %2").arg(i).arg(seen.join(QLatin1Char(' ')));
        before = board;
    }
    return {};
}

} // namespace rio::test
