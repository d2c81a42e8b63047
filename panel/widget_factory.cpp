#include "panel/widget_factory.h"

#include "panel/controls.h"

#include <QLabel>
#include <QLineEdit>

#include <climits>

namespace rio::panel {

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

namespace {

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

} // namespace

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

} // namespace rio::panel
