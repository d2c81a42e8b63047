#pragma once
// What every figure starts from: a line with simulated boards on it and the
// real window on port 1 of that line, driven the way a technician drives it.

#include "bench/probe_port/probe_port.h"
#include "bench/riobench/naive_pump.h"
#include "panel/form1.h"
#include "sim/simulator.h"
#include "trace/trace_writer.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace rio::bench {

// The simulator in this process, on its own thread. Its work is this
// process's work, so figures of processor time and memory use ExternalSim.
class InProcessSim {
public:
    explicit InProcessSim(sim::SimConfig config);
    [[nodiscard]] const std::string& path() const { return m_path; }
    [[nodiscard]] sim::Simulator& simulator() { return m_sim; }

private:
    sim::Simulator m_sim;
    std::string m_path;
};

// riosim as a process of its own; stopped when this goes.
class ExternalSim {
public:
    // Throws std::runtime_error when riosim does not report its line.
    ExternalSim(const QString& program, const QStringList& arguments);
    ~ExternalSim();
    ExternalSim(const ExternalSim&) = delete;
    ExternalSim& operator=(const ExternalSim&) = delete;
    [[nodiscard]] const std::string& path() const { return m_path; }

private:
    QProcess m_process;
    std::string m_path;
};

// How the exchanges wait: the panel's own pump, or the naive baseline.
enum class Pacing { Panel, Naive };

// The window with its port on the line. With Pacing::Naive the window, its
// port and its poll timer are the same, but its exchanges wait with the
// NaivePump.
class PanelRig {
public:
    // `speed` goes into the speed box, as a technician types the line's speed.
    // With `diagnostics` the line monitor is open beside the window and every
    // frame is written to a trace file, as `riopanel --monitor --trace` does.
    PanelRig(Pacing pacing, const std::string& linePath, int speed, bool diagnostics = false);
    ~PanelRig();
    PanelRig(const PanelRig&) = delete;
    PanelRig& operator=(const PanelRig&) = delete;

    [[nodiscard]] panel::Form1& form() { return *m_form; }
    [[nodiscard]] ProbePort& port() { return *m_port; }

    void show();
    void initialize(); // clicks ComPort Initialize
    void start();      // clicks START (naive: starts the rig's own poll timer)
    void stop();       // clicks STOP
    // One exchange with board 1, 2 or 3, outside the poll timer.
    void read(int board);
    void write(int board);

    [[nodiscard]] QString status(int board) const;
    [[nodiscard]] int tickNesting() const;

private:
    Pacing m_pacing;
    int m_speed;
    ProbePort* m_port = nullptr;
    std::unique_ptr<panel::Form1> m_form;
    QTemporaryDir m_traceDir;
    std::unique_ptr<trace::TraceWriter> m_trace;
};

inline constexpr const char* kNoAnswer = "응답이 없습니다";

} // namespace rio::bench
