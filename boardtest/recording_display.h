#pragma once
// A board's display for a program without a window: it keeps the status text
// the exchanges set, instead of painting anything. Every other show is
// dropped; what riopoll reports comes from the frame events.

#include "exchange/exchange_board.h"

#include <QString>

namespace rio::boardtest {

class RecordingDisplay : public exchange::BoardDisplay {
public:
    void setStatus(const QString& text) override { m_status = text; }
    void showReadRequest(std::string_view) override {}
    void showReadReply(std::string_view) override {}
    void showWriteRequest(std::string_view) override {}
    void showWriteReply(std::string_view) override {}
    void showAnalog1(const QString&) override {}
    void showAnalog2(const QString&) override {}
    void setIndicator(int, bool) override {}

    // "#1 Read OK", "#1 Write Error", ... as the panel's status line shows it.
    [[nodiscard]] const QString& status() const { return m_status; }

private:
    QString m_status;
};

} // namespace rio::boardtest
