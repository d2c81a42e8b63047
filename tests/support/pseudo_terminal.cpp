#include "tests/support/pseudo_terminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace rio::test {

namespace {

QString failed(const char* call) {
    return QStringLiteral("no pseudo-terminal: %1: %2")
        .arg(QLatin1String(call), QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

PseudoTerminal::PseudoTerminal() {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0) {
        m_problem = failed("posix_openpt");
        return;
    }
    char name[128];
    if (::grantpt(m_master) != 0)
        m_problem = failed("grantpt");
    else if (::unlockpt(m_master) != 0)
        m_problem = failed("unlockpt");
    else if (::ptsname_r(m_master, name, sizeof name) != 0)
        m_problem = failed("ptsname_r");
    if (!m_problem.isEmpty()) {
        close();
        return;
    }
    m_path = name;
}

PseudoTerminal::~PseudoTerminal() {
    close();
}

int PseudoTerminal::release() {
    const int master = m_master;
    m_master = -1;
    return master;
}

void PseudoTerminal::close() {
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

std::optional<QString> noPseudoTerminal() {
    const PseudoTerminal probe;
    if (probe.isOpen())
        return std::nullopt;
    return probe.problem();
}

} // namespace rio::test
