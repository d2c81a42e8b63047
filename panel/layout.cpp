#include "panel/layout.h"

namespace rio::panel {

QString objectNameOf(const ControlName& control) {
    const QString name = QString::fromLatin1(control.name);
    return control.index == kSingle ? name
                                    : name + QLatin1Char('_') + QString::number(control.index);
}

namespace {

struct TemplateRow {
    Role role;
    Style style;
    QRect twips; // relative to the board's origin
    const char* caption;
};

// One board panel, relative to the top-left corner of its outline. The
// address box's width and the title differ per board and come from
// BoardNames; the button rows are expanded to eight buttons below.
const TemplateRow kBoardTemplate[] = {
    {Role::Outline, Style::Outline, {0, 0, 3255, 5175}, ""},
    {Role::Title, Style::Title, {120, 120, 3015, 375}, ""},
    {Role::AddressCaption, Style::SettingCaption, {120, 600, 1455, 255}, "Address"},
    {Role::Address, Style::EntryBox, {1680, 600, 0, 270}, ""},
    {Role::UpperRule, Style::WideRule, QRect(QPoint(0, 960), QPoint(3240, 960)), ""},
    {Role::InputHead, Style::SectionHead, {120, 1080, 975, 255}, "INPUT"},
    {Role::ReadRequestCaption, Style::RowCaption, {120, 1440, 975, 255}, "Send Data"},
    {Role::ReadRequest, Style::FrameBox, {1080, 1440, 2055, 270}, ""},
    {Role::ReadReplyCaption, Style::RowCaption, {120, 1800, 975, 255}, "Read Data"},
    {Role::ReadReply, Style::FrameBox, {1080, 1800, 2055, 270}, ""},
    {Role::Inputs, Style::Indicator, {2760, 2160, 255, 375}, ""},
    {Role::Analog1Caption, Style::RowCaption, {120, 2640, 975, 255}, "AD1"},
    {Role::Analog1, Style::AnalogBox, {1080, 2640, 1095, 270}, ""},
    {Role::Analog2Caption, Style::RowCaption, {120, 3000, 975, 255}, "AD2"},
    {Role::Analog2, Style::AnalogBox, {1080, 3000, 1095, 270}, ""},
    {Role::MiddleRule, Style::ThinRule, QRect(QPoint(0, 3480), QPoint(3240, 3480)), ""},
    {Role::OutputHead, Style::SectionHead, {120, 3600, 975, 255}, "OUTPUT"},
    {Role::WriteRequestCaption, Style::RowCaption, {120, 3960, 975, 255}, "Send Data"},
    {Role::WriteRequest, Style::FrameBox, {1080, 3960, 2055, 270}, ""},
    {Role::WriteReplyCaption, Style::RowCaption, {120, 4320, 975, 255}, "Read Data"},
    {Role::WriteReply, Style::FrameBox, {1080, 4320, 2055, 270}, ""},
    {Role::Outputs, Style::Button, {2760, 4680, 255, 375}, ""},
    {Role::Status, Style::Status, {0, 5280, 3255, 255}, ""},
};

// In a button row, button k is captioned k + 1 and lies 240 twips left of
// button k - 1: "1" is the rightmost, and neighbours overlap by 15.
constexpr int kButtonStep = 240;
constexpr int kRowLength = 8;

// Board n is the template at (120 + 3360 (n - 1), 120).
BoardNames board(int number, int addressWidth, std::array<ControlName, kRoleCount> controls) {
    return {QPoint(120 + 3360 * (number - 1), 120), QStringLiteral("IO BOARD #%1").arg(number),
            addressWidth, controls};
}

} // namespace

const std::array<BoardNames, 3>& boardNames() {
    // In the order of the Role enumeration.
    static const std::array<BoardNames, 3> names = {
        board(1, 1455,
              {{{"Shape1"},    {"Label1", 11}, {"Label1", 10}, {"Text9"},     {"Line1"},
                {"Label1", 4}, {"Label1", 0},  {"Text1"},      {"Label1", 1}, {"Text2"},
                {"Command3"},  {"Label1", 6},  {"Text5"},      {"Label1", 7}, {"Text6"},
                {"Line2"},     {"Label1", 5},  {"Label1", 2},  {"Text3"},     {"Label1", 3},
                {"Text4"},     {"Command4"},   {"Label2", 0}}}),
        board(2, 1335,
              {{{"Shape2"},     {"Label1", 12}, {"Label1", 13}, {"Text10"},     {"Line4"},
                {"Label1", 17}, {"Label1", 21}, {"Text16"},     {"Label1", 20}, {"Text15"},
                {"Command13"},  {"Label1", 15}, {"Text12"},     {"Label1", 14}, {"Text11"},
                {"Line3"},      {"Label1", 16}, {"Label1", 19}, {"Text14"},     {"Label1", 18},
                {"Text13"},     {"Command14"},  {"Label2", 1}}}),
        board(3, 1335,
              {{{"Shape3"},     {"Label1", 22}, {"Label1", 23}, {"Text17"},     {"Line6"},
                {"Label1", 27}, {"Label1", 31}, {"Text23"},     {"Label1", 30}, {"Text22"},
                {"Command23"},  {"Label1", 25}, {"Text19"},     {"Label1", 24}, {"Text18"},
                {"Line5"},      {"Label1", 26}, {"Label1", 29}, {"Text21"},     {"Label1", 28},
                {"Text20"},     {"Command24"},  {"Label2", 2}}}),
    };
    return names;
}

std::vector<ControlSpec> formControls() {
    std::vector<ControlSpec> specs;
    for (const BoardNames& names : boardNames()) {
        for (const TemplateRow& row : kBoardTemplate) {
            const ControlName control = names.controls[static_cast<std::size_t>(row.role)];
            QRect twips = row.twips.translated(names.origin);
            QString caption = QString::fromLatin1(row.caption);
            if (row.role == Role::Title)
                caption = names.title;
            if (row.role == Role::Address)
                twips.setWidth(names.addressWidth);
            if (row.role == Role::Inputs || row.role == Role::Outputs) {
                for (int k = 0; k < kRowLength; ++k)
                    specs.push_back({{control.name, k},
                                     row.style,
                                     twips.translated(-kButtonStep * k, 0),
                                     QString::number(k + 1)});
                continue;
            }
            specs.push_back({control, row.style, twips, caption});
        }
    }

    const ControlSpec strip[] = {
        {{"Label1", 8}, Style::SettingCaption, {10200, 120, 1215, 255}, "COM PORT"},
        {{"Text7"}, Style::EntryBox, {10200, 480, 1215, 270}, ""},
        {{"Label1", 9}, Style::SettingCaption, {10200, 960, 1215, 255}, "SPEED"},
        {{"Text8"}, Style::EntryBox, {10200, 1320, 1215, 270}, ""},
        {{"Command2"}, Style::Button, {10200, 1680, 1335, 615}, "ComPort Initialize"},
        {{"Command5"}, Style::Button, {10200, 3240, 1335, 615}, "START"},
        {{"Command6"}, Style::Button, {10200, 3960, 1335, 615}, "STOP"},
        {{"Command1"}, Style::Button, {10200, 4680, 1335, 615}, "Exit"},
        {{"Label3"}, Style::Status, {120, 5760, 9975, 255}, ""},
        {{"Label4", 0}, Style::Banner, {120, 6120, 9975, 255}, ""},
    };
    specs.insert(specs.end(), std::begin(strip), std::end(strip));
    return specs;
}

std::vector<ControlName> tabOrder() {
    std::vector<ControlName> order = {{"Command1"}, {"Text1"}, {"Text2"}, {"Text3"}, {"Text4"}};
    for (int k = 0; k <= 7; ++k)
        order.push_back({"Command4", k});
    for (const char* name : {"Text5", "Text6", "Text8", "Command2", "Command5", "Command6", "Text9",
                             "Text7", "Text10", "Text11", "Text12"})
        order.push_back({name});
    for (int k = 7; k >= 0; --k)
        order.push_back({"Command14", k});
    for (const char* name : {"Text13", "Text14", "Text15", "Text16", "Text17", "Text18", "Text19"})
        order.push_back({name});
    for (int k = 7; k >= 0; --k)
        order.push_back({"Command24", k});
    for (const char* name : {"Text20", "Text21", "Text22", "Text23"})
        order.push_back({name});
    return order;
}

} // namespace rio::panel
