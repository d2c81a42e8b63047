#pragma once
// The panel's one window. Controls, handlers and state keep the names the
// panel's operators and maintainers know them by: Command4 is board 1's row of
// output buttons, Text9 its address box, Timer1 the poll timer, and so on.

#include "exchange/exchange.h"
#include "exchange/pump.h"
#include "monitor/line_monitor.h"
#include "panel/board_binding.h"
#include "panel/board_view.h"
#include "panel/controls.h"
#include "protocol/frames.h"
#include "scheduler/poll_timer.h"
#include "serial/serial_control.h"
#include "trace/counters.h"

#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rio::panel {

class Form1 : public QWidget {
    Q_OBJECT
public:
    // Creates the window and every control in its initial state: boxes and
    // status lines empty, every button at ButtonFace, Timer1 off, the port
    // closed. Form_Load fills in the defaults. The exchanges wait on `pump`;
    // by default the program's own pump on Qt's event loop.
    explicit Form1(std::unique_ptr<serial::SerialControl> port,
                   std::unique_ptr<exchange::EventPump> pump = nullptr);
    ~Form1() override;

    // What Exit does once the port is closed. The program ends the process at
    // once; tests put something harmless here.
    void setProcessEnd(std::function<void(int exitCode)> end) { m_processEnd = std::move(end); }

    // Names the device a port number stands for, for the port box's tooltip;
    // nothing when no device has that number.
    void setPortNamer(std::function<std::optional<QString>(int number)> namer);

    [[nodiscard]] const std::array<BoardBinding, 3>& boards() const { return m_boards; }

    // Every frame the exchanges send or receive is told to the listeners
    // added here (the trace file, the line monitor, the counters).
    [[nodiscard]] exchange::FrameFanout& frameListeners() { return m_line.frames(); }

    // The exchanges counted per board since the port was last opened; each
    // board's status line shows them as its tooltip.
    [[nodiscard]] const trace::LineCounters& counters() const { return m_counters; }

    // The line monitor, a window of its own, made when first asked for (Ctrl+M
    // in the panel, or the program's options) and listening from then on;
    // a panel that never asks for it pays nothing for it.
    [[nodiscard]] monitor::LineMonitor& lineMonitor();
    void openLineMonitor();

    // Handlers.
    void Form_Load();
    void Text9_Change();
    void Text10_Change();
    void Text17_Change();
    void Command4_Click(int index);
    void Command14_Click(int index);
    void Command24_Click(int index);
    void Command5_Click(); // START
    void Command6_Click(); // STOP
    void Command1_Click(); // Exit
    void Command2_Click(); // ComPort Initialize
    void OpenPort();
    // The poll timer's tick: serves the board whose turn it is.
    void Timer1_Timer();

    // The read and write exchanges of each board.
    void ReadBoard1();
    void ReadBoard2();
    void ReadBoard3();
    void WriteBoard1();
    void WriteBoard2();
    void WriteBoard3();

    // The board turn kept by the tick: 0, 1, 2 for boards 1, 2, 3.
    [[nodiscard]] std::int16_t BoardTurn() const { return m_poll->turn(); }
    // How deeply ticks are nested right now (0 outside a tick).
    [[nodiscard]] int tickNesting() const { return m_poll->nesting(); }
    [[nodiscard]] int deepestTickNesting() const { return m_poll->deepestNesting(); }

    // Controls.
    GraphicButton* Command1 = nullptr;                                  // Exit
    GraphicButton* Command2 = nullptr;                                  // ComPort Initialize
    GraphicButton* Command5 = nullptr;                                  // START
    GraphicButton* Command6 = nullptr;                                  // STOP
    std::array<GraphicButton*, 8> Command3{}, Command13{}, Command23{}; // input indicators
    std::array<GraphicButton*, 8> Command4{}, Command14{}, Command24{}; // output buttons
    QLineEdit *Text1 = nullptr, *Text2 = nullptr, *Text3 = nullptr, *Text4 = nullptr,
              *Text5 = nullptr, *Text6 = nullptr, *Text7 = nullptr, *Text8 = nullptr,
              *Text9 = nullptr, *Text10 = nullptr, *Text11 = nullptr, *Text12 = nullptr,
              *Text13 = nullptr, *Text14 = nullptr, *Text15 = nullptr, *Text16 = nullptr,
              *Text17 = nullptr, *Text18 = nullptr, *Text19 = nullptr, *Text20 = nullptr,
              *Text21 = nullptr, *Text22 = nullptr, *Text23 = nullptr;
    std::array<QLabel*, 32> Label1{}; // fixed captions
    std::array<QLabel*, 3> Label2{};  // board status lines
    QLabel* Label3 = nullptr;         // port status line
    std::array<QLabel*, 1> Label4{};  // banner
    Shape *Shape1 = nullptr, *Shape2 = nullptr, *Shape3 = nullptr;
    Rule *Line1 = nullptr, *Line2 = nullptr, *Line3 = nullptr, *Line4 = nullptr, *Line5 = nullptr,
         *Line6 = nullptr;
    QTimer* Timer1 = nullptr;
    std::unique_ptr<serial::SerialControl> MSComm1;

private:
    // The line through MSComm1: busy flags, speed, the exchanges' pump and
    // the frame listeners. The panel pumps events only through its pump.
    exchange::Line m_line;
    // Per-board state the operator sets and the exchanges fill, held once
    // per board; the names below are that state's fields, board by board.
    std::array<exchange::BoardState, 3> m_state{};

public:
    protocol::BoardAddr &BoardAddr1 = m_state[0].address, &BoardAddr2 = m_state[1].address,
                        &BoardAddr3 = m_state[2].address;
    protocol::Bits &OutBits1 = m_state[0].outBits, &OutBits2 = m_state[1].outBits,
                   &OutBits3 = m_state[2].outBits;
    std::optional<protocol::Bits>&InBits1 = m_state[0].inBits, &InBits2 = m_state[1].inBits,
    &InBits3 = m_state[2].inBits;
    std::string &AdRaw1A = m_state[0].adRawA, &AdRaw1B = m_state[0].adRawB,
                &AdRaw2A = m_state[1].adRawA, &AdRaw2B = m_state[1].adRawB,
                &AdRaw3A = m_state[2].adRawA, &AdRaw3B = m_state[2].adRawB;

    // The port number and speed last taken from Text7 and Text8; the speed
    // is the line's.
    std::int16_t PortNo = 0;
    std::int32_t& PortSpeed = m_line.speed();

    // Line claims: 1 while a read (write) exchange is in flight.
    std::int16_t& ReadBusy = m_line.readBusy();
    std::int16_t& WriteBusy = m_line.writeBusy();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void bindBoards();
    void connectHandlers();
    void addressChange(const BoardBinding& board);
    void outputClick(const BoardBinding& board, int index);
    void updatePortTooltip();
    void stopTimer1();

    std::array<BoardBinding, 3> m_boards{};
    std::vector<std::unique_ptr<BoardView>> m_views;
    trace::LineCounters m_counters;
    trace::CountersObserver m_countersFeed{m_counters};
    std::unique_ptr<monitor::LineMonitor> m_monitor;
    std::array<exchange::Board, 3> m_exchangeBoards{};
    std::unique_ptr<scheduler::PollTimer> m_poll;
    // Moves on whenever Timer1 stops: a tick posted before then is dropped
    // when it comes to run, so no exchange starts after STOP.
    std::uint64_t m_timerRun = 0;
    std::function<void(int)> m_processEnd;
    std::function<std::optional<QString>(int)> m_portNamer;
};

} // namespace rio::panel
