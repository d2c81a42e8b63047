#pragma once
// The window's controls as data: kind and style, name and index, rectangle in
// twips and caption. One routine turns these tables into widgets; a board
// panel is one template placed at three origins.

#include <QRect>
#include <QString>

#include <array>
#include <vector>

namespace rio::panel {

// Positions are in twips, 15 to a pixel at 96 dots per inch.
inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kClientWidthTwips = 11640; // 776 pixels
inline constexpr int kClientHeightTwips = 6405; // 427 pixels

enum class Style {
    Title,          // label: blue back, yellow bold 14.25 pt text
    SectionHead,    // label: blue back, yellow bold text
    RowCaption,     // label: blue back, white text
    SettingCaption, // label: yellow back, red text
    Status,         // label: yellow back, red text
    Banner,         // label without border, default colours
    FrameBox,       // read-only text box, text left
    AnalogBox,      // read-only text box, text right
    EntryBox,       // text box the operator types into, centred bold text
    Button,         // graphical button, a tab stop
    Indicator,      // graphical button that never takes focus or acts
    Outline,        // rectangle shape, border 2 wide
    WideRule,       // line 2 wide
    ThinRule,       // line 1 wide
};

// A control's name and its index in an index array, or kSingle.
inline constexpr int kSingle = -1;
struct ControlName {
    const char* name;
    int index = kSingle;
};

// The object name a control carries: "Text9" for a single control,
// "Command4_3" for Command4(3).
[[nodiscard]] QString objectNameOf(const ControlName& control);

struct ControlSpec {
    ControlName control;
    Style style;
    QRect twips; // for a rule: from topLeft() to bottomRight(), both ends inclusive
    QString caption;
};

// The roles a control plays inside one board panel.
enum class Role {
    Outline,
    Title,
    AddressCaption,
    Address,
    UpperRule,
    InputHead,
    ReadRequestCaption,
    ReadRequest,
    ReadReplyCaption,
    ReadReply,
    Inputs, // an index array of eight indicators
    Analog1Caption,
    Analog1,
    Analog2Caption,
    Analog2,
    MiddleRule,
    OutputHead,
    WriteRequestCaption,
    WriteRequest,
    WriteReplyCaption,
    WriteReply,
    Outputs, // an index array of eight buttons
    Status,
    Count
};
inline constexpr std::size_t kRoleCount = static_cast<std::size_t>(Role::Count);

// Which control fills each role on one board, and where the board sits.
struct BoardNames {
    QPoint origin;
    QString title;
    int addressWidth;
    std::array<ControlName, kRoleCount> controls;
};

[[nodiscard]] const std::array<BoardNames, 3>& boardNames();

// Every control of the window, the board panels first, then the port and
// command strip and the two bottom lines.
[[nodiscard]] std::vector<ControlSpec> formControls();

// The focus order, first to last.
[[nodiscard]] std::vector<ControlName> tabOrder();

[[nodiscard]] inline QRect toPixels(const QRect& twips) {
    return QRect(twips.x() / kTwipsPerPixel, twips.y() / kTwipsPerPixel,
                 twips.width() / kTwipsPerPixel, twips.height() / kTwipsPerPixel);
}

} // namespace rio::panel
