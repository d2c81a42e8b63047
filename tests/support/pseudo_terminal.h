#pragma once
// The one way the tests get a pseudo-terminal: a new master side, its slave
// side named by path(), and the reason when this machine gives none. A test
// that needs one skips with that reason rather than passing in silence.

#include <QString>

#include <optional>
#include <string>

namespace rio::test {

class PseudoTerminal {
public:
    // Opens a new master (close-on-exec, not the controlling terminal) and
    // unlocks its slave; never throws: problem() says what went wrong.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    [[nodiscard]] bool isOpen() const { return m_master >= 0; }
    // Why there is no pseudo-terminal, for a skip message; empty when open.
    [[nodiscard]] const QString& problem() const { return m_problem; }
    [[nodiscard]] int master() const { return m_master; }
    // The slave side, the device a port opens.
    [[nodiscard]] const std::string& path() const { return m_path; }

    // Hands the master over to the caller, who closes it.
    [[nodiscard]] int release();
    // Closes the master: from the slave's side the device has gone.
    void close();

private:
    int m_master = -1;
    std::string m_path;
    QString m_problem;
};

// Why no pseudo-terminal can be had on this machine, or nothing when one can.
[[nodiscard]] std::optional<QString> noPseudoTerminal();

} // namespace rio::test

// Skips the running test with the reason where this machine gives no
// pseudo-terminal; in initTestCase() it skips the whole test program.
#define RIO_SKIP_WITHOUT_PSEUDO_TERMINAL()                                                         \
    do {                                                                                           \
        if (const auto rioNoPseudoTerminal = ::rio::test::noPseudoTerminal())                      \
            QSKIP(qPrintable(*rioNoPseudoTerminal));                                               \
    } while (false)
