#pragma once
// riosim as a process of its own, with --log at 115200 bit/s on a new
// pseudo-terminal, for the tests that run riopoll against it: the line's
// path, and the simulator's log of every frame.

#include <QProcess>
#include <QString>
#include <QStringList>

namespace rio::test {

class SimProcess {
public:
    // `program` is riosim's path; `extra` adds options (faults, a turnaround).
    // `path` stays empty when it did not start or name its line.
    SimProcess(const QString& program, const QStringList& extra);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Ends the simulator, which closes its end of the line.
    void quit();

    // Sends a read request for board 09, which no board answers, from the
    // test's own end of the line, and waits for the log to show it: every
    // request before it has been logged by then.
    [[nodiscard]] bool logUpToMarker();

    // Every log line so far: "  12.345 <- 01 <ENQ>01W00000000<EOT>".
    [[nodiscard]] QStringList log();
    // The write requests and replies the log shows for board 01, as
    // "<- 01W00000100" and "-> 01W00000100", in line order.
    [[nodiscard]] QStringList writes();

    QString path;

private:
    QProcess m_process;
    QString m_log;
};

} // namespace rio::test
