// Building the window: its controls from the layout tables, the board
// binding table, the exchanges' wiring and the signal connections. The
// handlers themselves are in form1.cpp.

#include "panel/form1.h"

#include "panel/icon.h"
#include "panel/layout.h"
#include "panel/widget_factory.h"

#include <QHash>
#include <QShortcut>

#include <cstdio>
#include <cstdlib>

namespace rio::panel {

Form1::Form1(std::unique_ptr<serial::SerialControl> port, std::unique_ptr<exchange::EventPump> pump)
    : MSComm1(std::move(port)), m_line(*MSComm1, std::move(pump)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Velqor-RX Series Remote IO Board Test (RS-485전용)"));
    // Fixed size with the close box and system menu, and no minimise or
    // maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidthTwips / kTwipsPerPixel, kClientHeightTwips / kTwipsPerPixel);
    setFont(panelFont(kFontPoints, false));
    setWindowIcon(panelIcon());

    createControls();
    bindBoards();

    for (std::size_t i = 0; i < m_boards.size(); ++i) {
        const BoardBinding& b = m_boards[i];
        m_views.push_back(std::make_unique<BoardView>(b));
        m_exchangeBoards[i] = {
            .number = b.number, .display = m_views.back().get(), .state = b.state};
    }
    m_poll = std::make_unique<scheduler::PollTimer>(
        m_line, std::vector<exchange::Board>(m_exchangeBoards.begin(), m_exchangeBoards.end()));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    // A timer does not run its handler again while the handler is still
    // running, but ticks that fall due during an exchange's wait must run the
    // tick nested. So the timeout only posts the tick, and the wait's pump
    // delivers it — unless the timer was stopped in between.
    connect(Timer1, &QTimer::timeout, this, [this] {
        QMetaObject::invokeMethod(
            this,
            [this, run = m_timerRun] {
                if (run == m_timerRun)
                    Timer1_Timer();
            },
            Qt::QueuedConnection);
    });
    connectHandlers();

    // Diagnostics listen on the line; none of them changes the window.
    m_line.frames().add(&m_countersFeed);
    auto* monitorKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_M), this);
    connect(monitorKey, &QShortcut::activated, this, &Form1::openLineMonitor);
    for (QLabel* status : Label2)
        status->installEventFilter(this);

    m_processEnd = [](int code) {
        std::fflush(nullptr);
        std::_Exit(code);
    };
}

Form1::~Form1() {
    if (m_monitor)
        m_line.frames().remove(&m_monitor->observer());
}

void Form1::createControls() {
    QHash<QString, QWidget*> byName;
    for (const ControlSpec& spec : formControls()) {
        QWidget* widget = makeControl(spec, this);
        byName.insert(widget->objectName(), widget);
        // Outlines and rules lie under every other control.
        if (spec.style == Style::Outline || spec.style == Style::WideRule ||
            spec.style == Style::ThinRule)
            widget->lower();
    }
    auto find = [&](const char* name, int index = kSingle) {
        QWidget* widget = byName.value(objectNameOf({name, index}));
        Q_ASSERT(widget);
        return widget;
    };
    auto button = [&](const char* name, int index = kSingle) {
        return static_cast<GraphicButton*>(find(name, index));
    };
    auto box = [&](const char* name) { return static_cast<QLineEdit*>(find(name)); };
    auto label = [&](const char* name, int index) {
        return static_cast<QLabel*>(find(name, index));
    };
    auto row = [&](const char* name) {
        std::array<GraphicButton*, 8> buttons{};
        for (int k = 0; k < 8; ++k)
            buttons[std::size_t(k)] = button(name, k);
        return buttons;
    };

    Command1 = button("Command1");
    Command2 = button("Command2");
    Command5 = button("Command5");
    Command6 = button("Command6");
    Command3 = row("Command3");
    Command4 = row("Command4");
    Command13 = row("Command13");
    Command14 = row("Command14");
    Command23 = row("Command23");
    Command24 = row("Command24");
    QLineEdit** texts[] = {&Text1,  &Text2,  &Text3,  &Text4,  &Text5,  &Text6,  &Text7,  &Text8,
                           &Text9,  &Text10, &Text11, &Text12, &Text13, &Text14, &Text15, &Text16,
                           &Text17, &Text18, &Text19, &Text20, &Text21, &Text22, &Text23};
    for (int n = 1; n <= 23; ++n)
        *texts[n - 1] = box(QStringLiteral("Text%1").arg(n).toLatin1().constData());
    for (int i = 0; i < 32; ++i)
        Label1[std::size_t(i)] = label("Label1", i);
    for (int i = 0; i < 3; ++i)
        Label2[std::size_t(i)] = label("Label2", i);
    Label3 = static_cast<QLabel*>(find("Label3"));
    Label4[0] = label("Label4", 0);
    Shape1 = static_cast<Shape*>(find("Shape1"));
    Shape2 = static_cast<Shape*>(find("Shape2"));
    Shape3 = static_cast<Shape*>(find("Shape3"));
    Rule** lines[] = {&Line1, &Line2, &Line3, &Line4, &Line5, &Line6};
    for (int n = 1; n <= 6; ++n)
        *lines[n - 1] =
            static_cast<Rule*>(find(QStringLiteral("Line%1").arg(n).toLatin1().constData()));

    Label4[0]->setText(
        QStringLiteral("riopanel %1 — remote I/O board test panel. Report problems on the "
                       "riopanel issue tracker.")
            .arg(QStringLiteral(RIOPANEL_VERSION)));

    std::vector<ControlName> order = tabOrder();
    for (std::size_t i = 1; i < order.size(); ++i)
        setTabOrder(find(order[i - 1].name, order[i - 1].index),
                    find(order[i].name, order[i].index));
    Command1->setFocus();
}

// Each board's controls as the layout names them by role, so the binding
// table and the window cannot disagree.
void Form1::bindBoards() {
    for (std::size_t i = 0; i < m_boards.size(); ++i) {
        const BoardNames& names = boardNames()[i];
        const auto find = [&](Role role, int index) {
            const ControlName& control = names.controls[static_cast<std::size_t>(role)];
            QWidget* widget = findChild<QWidget*>(objectNameOf({control.name, index}),
                                                  Qt::FindDirectChildrenOnly);
            Q_ASSERT(widget);
            return widget;
        };
        const auto single = [&](Role role) {
            return find(role, names.controls[static_cast<std::size_t>(role)].index);
        };
        const auto box = [&](Role role) { return static_cast<QLineEdit*>(single(role)); };
        const auto row = [&](Role role) {
            std::array<GraphicButton*, 8> buttons{};
            for (int k = 0; k < 8; ++k)
                buttons[std::size_t(k)] = static_cast<GraphicButton*>(find(role, k));
            return buttons;
        };
        m_boards[i] = {.number = int(i) + 1,
                       .status = static_cast<QLabel*>(single(Role::Status)),
                       .address = box(Role::Address),
                       .readRequest = box(Role::ReadRequest),
                       .readReply = box(Role::ReadReply),
                       .writeRequest = box(Role::WriteRequest),
                       .writeReply = box(Role::WriteReply),
                       .analog1 = box(Role::Analog1),
                       .analog2 = box(Role::Analog2),
                       .outputs = row(Role::Outputs),
                       .inputs = row(Role::Inputs),
                       .state = &m_state[i]};
    }
}

// Each control's signal runs the handler named after it.
void Form1::connectHandlers() {
    connect(Text9, &QLineEdit::textChanged, this, &Form1::Text9_Change);
    connect(Text10, &QLineEdit::textChanged, this, &Form1::Text10_Change);
    connect(Text17, &QLineEdit::textChanged, this, &Form1::Text17_Change);
    for (int k = 0; k < 8; ++k) {
        connect(Command4[std::size_t(k)], &QAbstractButton::clicked, this,
                [this, k] { Command4_Click(k); });
        connect(Command14[std::size_t(k)], &QAbstractButton::clicked, this,
                [this, k] { Command14_Click(k); });
        connect(Command24[std::size_t(k)], &QAbstractButton::clicked, this,
                [this, k] { Command24_Click(k); });
    }
    connect(Command5, &QAbstractButton::clicked, this, &Form1::Command5_Click);
    connect(Command6, &QAbstractButton::clicked, this, &Form1::Command6_Click);
    connect(Command1, &QAbstractButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QAbstractButton::clicked, this, &Form1::Command2_Click);
    connect(Text7, &QLineEdit::textChanged, this, &Form1::updatePortTooltip);
}

} // namespace rio::panel
