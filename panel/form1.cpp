#include "panel/form1.h"

#include "protocol/numbers.h"
#include "serial/settings_text.h"

#include <QCloseEvent>
#include <QLoggingCategory>

namespace rio::panel {

namespace {

Q_LOGGING_CATEGORY(lcPanel, "rio.panel", QtInfoMsg)

// A box's text as a whole number of type T: blanks around it and a sign are
// taken; anything else (letters, a fraction, a number out of T's range) is
// not a number.
template <std::integral T> std::optional<T> boxNumber(const QString& text) {
    return protocol::signedNumber<T>(text.trimmed().toStdString());
}

const QString kPortFailure = QStringLiteral("통신포트를 열 수 없습니다.");

} // namespace

void Form1::setPortNamer(std::function<std::optional<QString>(int)> namer) {
    m_portNamer = std::move(namer);
    updatePortTooltip();
}

void Form1::updatePortTooltip() {
    if (!m_portNamer)
        return;
    const std::optional<std::int16_t> number = boxNumber<std::int16_t>(Text7->text());
    std::optional<QString> device;
    if (number && *number >= 1)
        device = m_portNamer(*number);
    if (device)
        Text7->setToolTip(QStringLiteral("Port %1 is %2").arg(*number).arg(*device));
    else
        Text7->setToolTip(QStringLiteral("No serial device has this number; riopanel "
                                         "--list-ports shows the numbering"));
}

void Form1::Form_Load() {
    OutBits1.fill('0');
    OutBits2.fill('0');
    OutBits3.fill('0');
    Text7->setText(QStringLiteral("1"));
    Text8->setText(QStringLiteral("9600"));
    // Each assignment runs the box's change handler, which sets the address.
    Text9->setText(QStringLiteral("1"));
    Text10->setText(QStringLiteral("2"));
    Text17->setText(QStringLiteral("3"));
    Command6_Click();
}

void Form1::addressChange(const BoardBinding& board) {
    board.state->address = protocol::addressRule(board.address->text().toStdU32String());
}

void Form1::Text9_Change() {
    addressChange(m_boards[0]);
}
void Form1::Text10_Change() {
    addressChange(m_boards[1]);
}
void Form1::Text17_Change() {
    addressChange(m_boards[2]);
}

// The button's colour, not the stored bit, decides whether this press turns
// the output on or off. Nothing is sent now; the board's next write carries it.
void Form1::outputClick(const BoardBinding& board, int index) {
    GraphicButton* button = board.outputs[std::size_t(index)];
    char& bit = board.state->outBits[std::size_t(index)];
    if (button->backColor() == kButtonFace) {
        button->setBackColor(kGreen);
        bit = '1';
    } else {
        button->setBackColor(kButtonFace);
        bit = '0';
    }
    m_line.pump().pumpOnce();
}

void Form1::Command4_Click(int index) {
    outputClick(m_boards[0], index);
}
void Form1::Command14_Click(int index) {
    outputClick(m_boards[1], index);
}
void Form1::Command24_Click(int index) {
    outputClick(m_boards[2], index);
}

void Form1::Command5_Click() {
    Command5->setBackColor(kRed);
    Command6->setBackColor(kButtonFace);
    for (QLabel* status : Label2)
        status->setText(QString());
    Timer1->start();
}

void Form1::Command6_Click() {
    Command5->setBackColor(kButtonFace);
    Command6->setBackColor(kRed);
    ReadBusy = 0;
    WriteBusy = 0;
    stopTimer1();
}

// A tick already posted when the timer stops is dropped when its turn comes:
// STOP and ComPort Initialize leave no exchange to start after them.
void Form1::stopTimer1() {
    Timer1->stop();
    ++m_timerRun;
}

// Closes the port, ignoring a port that is not open, and ends the process at
// once, even from inside an exchange's wait.
void Form1::Command1_Click() {
    try {
        MSComm1->setPortOpen(false);
    } catch (const serial::PortError&) {
    }
    m_processEnd(0);
}

// Takes the port number and speed from their boxes and opens the port,
// reporting on the port status line. The first failing step abandons the rest
// and shows the one failure text; values taken before it stay taken.
void Form1::OpenPort() {
    try {
        const std::optional<std::int16_t> number = boxNumber<std::int16_t>(Text7->text());
        if (!number)
            throw serial::PortError("port number is not a 16-bit number");
        PortNo = *number;
        const std::optional<std::int32_t> speed = boxNumber<std::int32_t>(Text8->text());
        if (!speed)
            throw serial::PortError("speed is not a 32-bit number");
        PortSpeed = *speed;
        MSComm1->setCommPort(PortNo);
        MSComm1->setSettings(serial::settingsText(PortSpeed));
        MSComm1->setPortOpen(true);
        // The boxes' texts as typed: "01" stays "01".
        Label3->setText(QStringLiteral("Port No:") + Text7->text() + QStringLiteral("   Speed:") +
                        Text8->text());
    } catch (const serial::PortError& error) {
        // The status line keeps its one failure text; the reason is in its
        // tooltip and the log.
        Label3->setToolTip(QString::fromLocal8Bit(error.what()));
        qCWarning(lcPanel).noquote() << "ComPort Initialize: port" << Text7->text() << "at speed"
                                     << Text8->text() << "cannot be opened:" << error.what();
        Label3->setText(kPortFailure);
    }
}

// Closes and reopens the port with the boxes' values and leaves the panel
// stopped. A failing step is skipped and the next one runs; the button turns
// green once the initialisation has run, whether or not the port opened.
void Form1::Command2_Click() {
    // Polling stops before the repaint below lets pending events run, so a
    // tick that fell due just before the press cannot start an exchange on
    // the port that is about to be closed.
    stopTimer1();
    Command2->setBackColor(kRed);
    m_line.pump().pumpOnce();
    for (QLabel* status : Label2)
        status->setText(QString());
    Label3->setText(QString());
    Label3->setToolTip(QString());
    stopTimer1();
    m_counters.reset();
    if (m_monitor)
        m_monitor->refreshCounters();
    try {
        MSComm1->setPortOpen(false);
    } catch (const serial::PortError&) {
    }
    OpenPort();
    Command2->setBackColor(kGreen);
    Command6_Click();
}

void Form1::Timer1_Timer() {
    m_poll->tick();
}

void Form1::ReadBoard1() {
    exchange::readBoard(m_line, m_exchangeBoards[0]);
}
void Form1::ReadBoard2() {
    exchange::readBoard(m_line, m_exchangeBoards[1]);
}
void Form1::ReadBoard3() {
    exchange::readBoard(m_line, m_exchangeBoards[2]);
}
void Form1::WriteBoard1() {
    exchange::writeBoard(m_line, m_exchangeBoards[0]);
}
void Form1::WriteBoard2() {
    exchange::writeBoard(m_line, m_exchangeBoards[1]);
}
void Form1::WriteBoard3() {
    exchange::writeBoard(m_line, m_exchangeBoards[2]);
}

monitor::LineMonitor& Form1::lineMonitor() {
    if (!m_monitor) {
        m_monitor = std::make_unique<monitor::LineMonitor>(m_counters);
        m_line.frames().add(&m_monitor->observer());
    }
    return *m_monitor;
}

void Form1::openLineMonitor() {
    monitor::LineMonitor& window = lineMonitor();
    window.show();
    window.raise();
    window.activateWindow();
}

// A board's status line shows its counters as a tooltip, made when asked for.
bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip)
        for (std::size_t i = 0; i < Label2.size(); ++i)
            if (watched == Label2[i])
                Label2[i]->setToolTip(trace::boardTooltip(m_counters, int(i) + 1));
    return QWidget::eventFilter(watched, event);
}

// The close box does what Exit does, so the port is never left open behind a
// closed window.
void Form1::closeEvent(QCloseEvent* event) {
    event->accept();
    Command1_Click();
}

} // namespace rio::panel
