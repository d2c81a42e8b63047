#include "form1.h"

#include "icon.h"
#include "layout.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QHash>

#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace rio::panel {

namespace {

// The window's font is a Korean gothic at 9 pt. Where the usual Windows face
// is missing (every Linux desktop), a Debian gothic with Hangul takes its
// place at the same size, so Korean texts show real glyphs.
QFont panelFont(qreal points, bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("Gulim"), QStringLiteral("굴림"),
                      QStringLiteral("NanumGothic"), QStringLiteral("Nanum Gothic"),
                      QStringLiteral("Noto Sans CJK KR")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return font;
}

constexpr qreal kFontPoints = 9;
constexpr qreal kTitlePoints = 14.25;

QString rgb(OleColour colour) {
    return QStringLiteral("rgb(%1,%2,%3)")
        .arg(colour & 0xFF)
        .arg((colour >> 8) & 0xFF)
        .arg((colour >> 16) & 0xFF);
}

// Labels paint their back colour flat; the style sheet also draws the single
// fixed border.
QLabel* makeLabel(Style style, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setAlignment(Qt::AlignCenter);
    OleColour back = kBlue, text = kWhite;
    switch (style) {
    case Style::Title:
        text = kYellow;
        label->setFont(panelFont(kTitlePoints, true));
        break;
    case Style::SectionHead:
        text = kYellow;
        label->setFont(panelFont(kFontPoints, true));
        break;
    case Style::SettingCaption:
    case Style::Status:
        back = kYellow;
        text = kRed;
        break;
    case Style::Banner:
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        return label;
    default:
        break;
    }
    label->setStyleSheet(QStringLiteral("QLabel { background-color: %1; color: %2; "
                                        "border: 1px solid black; }")
                             .arg(rgb(back), rgb(text)));
    return label;
}

QLineEdit* makeTextBox(Style style, QWidget* parent) {
    auto* box = new QLineEdit(parent);
    box->setMaxLength(INT_MAX); // no length limit
    switch (style) {
    case Style::FrameBox:
        box->setReadOnly(true);
        box->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        break;
    case Style::AnalogBox:
        box->setReadOnly(true);
        box->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        break;
    default:
        box->setAlignment(Qt::AlignCenter);
        box->setFont(panelFont(kFontPoints, true));
        break;
    }
    return box;
}

GraphicButton* makeButton(Style style, QWidget* parent) {
    auto* button = new GraphicButton(parent);
    if (style == Style::Indicator) {
        // An indicator only shows an input: no focus, the no-drop pointer.
        button->setFocusPolicy(Qt::NoFocus);
        button->setCursor(Qt::ForbiddenCursor);
    } else {
        button->setFocusPolicy(Qt::StrongFocus);
    }
    return button;
}

QWidget* makeControl(const ControlSpec& spec, QWidget* parent) {
    QWidget* widget = nullptr;
    switch (spec.style) {
    case Style::Title:
    case Style::SectionHead:
    case Style::RowCaption:
    case Style::SettingCaption:
    case Style::Status:
    case Style::Banner: {
        QLabel* label = makeLabel(spec.style, parent);
        label->setText(spec.caption);
        widget = label;
        break;
    }
    case Style::FrameBox:
    case Style::AnalogBox:
    case Style::EntryBox:
        widget = makeTextBox(spec.style, parent);
        break;
    case Style::Button:
    case Style::Indicator: {
        GraphicButton* button = makeButton(spec.style, parent);
        button->setText(spec.caption);
        widget = button;
        break;
    }
    case Style::Outline:
        widget = new Shape(2, parent);
        break;
    case Style::WideRule:
    case Style::ThinRule: {
        const QLine line(spec.twips.topLeft() / kTwipsPerPixel,
                         spec.twips.bottomRight() / kTwipsPerPixel);
        auto* rule = new Rule(line, spec.style == Style::WideRule ? 2 : 1, parent);
        rule->setObjectName(objectNameOf(spec.control));
        return rule;
    }
    }
    widget->setObjectName(objectNameOf(spec.control));
    widget->setGeometry(toPixels(spec.twips));
    return widget;
}

// A box's text as a whole number of type T: blanks around it and a sign are
// taken; anything else (letters, a fraction, a number out of T's range) is
// not a number.
template <typename T> std::optional<T> wholeNumber(const QString& text) {
    const std::string digits = text.trimmed().toStdString();
    std::string_view view = digits;
    bool negative = false;
    if (!view.empty() && (view.front() == '+' || view.front() == '-')) {
        negative = view.front() == '-';
        view.remove_prefix(1);
    }
    if (view.empty() || view.front() < '0' || view.front() > '9')
        return std::nullopt;
    long long magnitude = 0;
    auto [end, ec] = std::from_chars(view.data(), view.data() + view.size(), magnitude);
    if (ec != std::errc() || end != view.data() + view.size())
        return std::nullopt;
    const long long value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max())
        return std::nullopt;
    return static_cast<T>(value);
}

// The settings text of a speed: a blank before a number that is not negative
// (a minus sign before one that is), the digits, then the line format.
std::string settingsText(std::int32_t speed) {
    std::string text = speed < 0 ? "-" : " ";
    text += std::to_string(speed < 0 ? -static_cast<std::int64_t>(speed) : speed);
    text += ",N,8,1";
    return text;
}

const QString kPortFailure = QStringLiteral("통신포트를 열 수 없습니다.");

} // namespace

void pumpEvents() {
    QCoreApplication::processEvents();
}

Form1::Form1(std::unique_ptr<serial::SerialControl> port, QWidget* parent)
    : QWidget(parent), MSComm1(std::move(port)) {
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

    m_line = {MSComm1.get(), &ReadBusy, &WriteBusy, &PortSpeed, &m_pump};
    for (std::size_t i = 0; i < m_boards.size(); ++i) {
        const BoardBinding& b = m_boards[i];
        m_views.push_back(std::make_unique<BoardView>(b));
        m_exchangeBoards[i] = {
            b.number, m_views.back().get(), b.boardAddr, b.outBits, b.inBits, b.adRawA, b.adRawB};
    }
    m_poll = std::make_unique<scheduler::PollTimer>(m_line, m_exchangeBoards);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    // A timer does not run its handler again while the handler is still
    // running, but ticks that fall due during an exchange's wait must run the
    // tick nested. So the timeout only posts the tick, and the wait's pump
    // delivers it.
    connect(Timer1, &QTimer::timeout, this, [this] {
        QMetaObject::invokeMethod(this, &Form1::Timer1_Timer, Qt::QueuedConnection);
    });

    m_processEnd = [](int code) {
        std::fflush(nullptr);
        std::_Exit(code);
    };
}

Form1::~Form1() = default;

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

void Form1::bindBoards() {
    m_boards = {{
        {1, Label2[0], Text9, Text1, Text2, Text3, Text4, Text5, Text6, Command4, Command3,
         &BoardAddr1, &OutBits1, &InBits1, &AdRaw1A, &AdRaw1B},
        {2, Label2[1], Text10, Text16, Text15, Text14, Text13, Text12, Text11, Command14, Command13,
         &BoardAddr2, &OutBits2, &InBits2, &AdRaw2A, &AdRaw2B},
        {3, Label2[2], Text17, Text23, Text22, Text21, Text20, Text19, Text18, Command24, Command23,
         &BoardAddr3, &OutBits3, &InBits3, &AdRaw3A, &AdRaw3B},
    }};
    for (const BoardBinding& board : m_boards) {
        connect(board.address, &QLineEdit::textChanged, this,
                [this, &board] { addressChange(board); });
        for (int k = 0; k < 8; ++k)
            connect(board.outputs[std::size_t(k)], &QAbstractButton::clicked, this,
                    [this, &board, k] { outputClick(board, k); });
    }
    connect(Command5, &QAbstractButton::clicked, this, &Form1::Command5_Click);
    connect(Command6, &QAbstractButton::clicked, this, &Form1::Command6_Click);
    connect(Command1, &QAbstractButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QAbstractButton::clicked, this, &Form1::Command2_Click);
    connect(Text7, &QLineEdit::textChanged, this, &Form1::updatePortTooltip);
}

void Form1::setPortNamer(std::function<std::optional<QString>(int)> namer) {
    m_portNamer = std::move(namer);
    updatePortTooltip();
}

void Form1::updatePortTooltip() {
    if (!m_portNamer)
        return;
    const std::optional<std::int16_t> number = wholeNumber<std::int16_t>(Text7->text());
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
    *board.boardAddr = protocol::addressRule(board.address->text().toStdU32String());
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
    char& bit = (*board.outBits)[std::size_t(index)];
    if (button->backColor() == kButtonFace) {
        button->setBackColor(kGreen);
        bit = '1';
    } else {
        button->setBackColor(kButtonFace);
        bit = '0';
    }
    pumpEvents();
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
    Timer1->stop();
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
        const std::optional<std::int16_t> number = wholeNumber<std::int16_t>(Text7->text());
        if (!number)
            throw serial::PortError("port number is not a 16-bit number");
        PortNo = *number;
        const std::optional<std::int32_t> speed = wholeNumber<std::int32_t>(Text8->text());
        if (!speed)
            throw serial::PortError("speed is not a 32-bit number");
        PortSpeed = *speed;
        MSComm1->setCommPort(PortNo);
        MSComm1->setSettings(settingsText(PortSpeed));
        MSComm1->setPortOpen(true);
        // The boxes' texts as typed: "01" stays "01".
        Label3->setText(QStringLiteral("Port No:") + Text7->text() + QStringLiteral("   Speed:") +
                        Text8->text());
    } catch (const serial::PortError&) {
        Label3->setText(kPortFailure);
    }
}

// Closes and reopens the port with the boxes' values and leaves the panel
// stopped. A failing step is skipped and the next one runs; the button turns
// green once the initialisation has run, whether or not the port opened.
void Form1::Command2_Click() {
    Command2->setBackColor(kRed);
    pumpEvents();
    for (QLabel* status : Label2)
        status->setText(QString());
    Label3->setText(QString());
    Timer1->stop();
    try {
        MSComm1->setPortOpen(false);
    } catch (const serial::PortError&) {
    }
    OpenPort();
    Command2->setBackColor(kGreen);
    Command6_Click();
}

void Form1::Timer1_Timer() {
    m_poll->Timer1_Timer();
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

// The close box does what Exit does, so the port is never left open behind a
// closed window.
void Form1::closeEvent(QCloseEvent* event) {
    event->accept();
    Command1_Click();
}

} // namespace rio::panel
