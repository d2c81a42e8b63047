#include "tests/support/sim_process.h"

#include <QRegularExpression>

#include <chrono>

#include <fcntl.h>
#include <unistd.h>

namespace rio::test {

using namespace std::chrono;

SimProcess::SimProcess(const QString& program, const QStringList& extra) {
    m_process.start(program, QStringList{"--baud", "115200", "--log"} + extra);
    if (!m_process.waitForStarted(5000))
        return;
    const auto deadline = steady_clock::now() + 5s;
    while (!m_process.canReadLine() && steady_clock::now() < deadline)
        m_process.waitForReadyRead(100);
    static const QRegularExpression ready("^riosim: line ready at (/dev/pts/\\d+)\\n$");
    const auto match = ready.match(QString::fromLatin1(m_process.readLine()));
    if (match.hasMatch())
        path = match.captured(1);
}

SimProcess::~SimProcess() {
    quit();
}

void SimProcess::quit() {
    m_process.terminate();
    m_process.waitForFinished(5000);
}

bool SimProcess::logUpToMarker() {
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    const bool sent = fd >= 0 && ::write(fd,
                                         "\x05"
                                         "09R\x04",
                                         5) == 5;
    if (fd >= 0)
        ::close(fd);
    const auto deadline = steady_clock::now() + 5s;
    while (sent && steady_clock::now() < deadline) {
        if (!log().isEmpty() && log().constLast().endsWith(" <- 09 <ENQ>09R<EOT>"))
            return true;
        m_process.waitForReadyRead(100);
    }
    return false;
}

QStringList SimProcess::log() {
    m_log += QString::fromLatin1(m_process.readAllStandardOutput());
    return m_log.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList SimProcess::writes() {
    static const QRegularExpression frame("(<-|->) 01 <(?:ENQ|ACK)>01W([01]{8})<(?:EOT|ETX)>$");
    QStringList seen;
    for (const QString& line : log())
        if (const auto match = frame.match(line); match.hasMatch())
            seen << match.captured(1) + " 01W" + match.captured(2);
    return seen;
}

} // namespace rio::test
