#include "monitor/prepared_text_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

#include <cmath>

namespace rio::monitor {

void PreparedTextDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    const QWidget* widget = option.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    if (m_alternateRole >= 0 && index.data(m_alternateRole).toBool()) {
        // What a view with alternating row colours paints under the cell.
        QStyleOptionViewItem row = option;
        row.features |= QStyleOptionViewItem::Alternate;
        style->drawPrimitive(QStyle::PE_PanelItemViewRow, &row, painter, widget);
    }
    const auto styleDrawn = [&] { QStyledItemDelegate::paint(painter, option, index); };
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    constexpr auto kStyleDrawn = QStyleOptionViewItem::HasCheckIndicator |
                                 QStyleOptionViewItem::HasDecoration |
                                 QStyleOptionViewItem::WrapText;
    if ((opt.features & kStyleDrawn) ||
        (opt.state & (QStyle::State_HasFocus | QStyle::State_Editing))) {
        styleDrawn();
        return;
    }
    // The style's text margin on either side, as it pads every item's text.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect textRect = opt.rect.adjusted(margin, 0, -margin, 0);

    const QStaticText* text = nullptr;
    QSizeF size;
    if (!opt.text.isEmpty()) {
        text = &prepared(opt.text, opt.font);
        size = text->size();
        // Too narrow a column: the style elides it.
        if (size.width() > textRect.width()) {
            styleDrawn();
            return;
        }
    }

    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);
    if (!text)
        return;
    const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (opt.state & QStyle::State_Active) ? QPalette::Normal
                                                                            : QPalette::Inactive;
    const QPalette::ColorRole role =
        (opt.state & QStyle::State_Selected) ? QPalette::HighlightedText : QPalette::Text;
    const Qt::Alignment align = QStyle::visualAlignment(opt.direction, opt.displayAlignment);
    qreal x = textRect.left();
    if (align & Qt::AlignRight)
        x = textRect.left() + textRect.width() - size.width();
    else if (align & Qt::AlignHCenter)
        x = textRect.left() + (textRect.width() - size.width()) / 2;
    const QRect lines = QStyle::alignedRect(
        opt.direction, align & Qt::AlignVertical_Mask,
        QSize(textRect.width(), static_cast<int>(std::ceil(size.height()))), textRect);

    const QPen pen = painter->pen();
    const QFont font = painter->font();
    painter->setPen(opt.palette.color(group, role));
    painter->setFont(opt.font);
    painter->drawStaticText(QPointF(x, lines.top()), *text);
    painter->setFont(font);
    painter->setPen(pen);
}

const QStaticText& PreparedTextDelegate::prepared(const QString& text, const QFont& font) const {
    FontTexts* cache = nullptr;
    for (FontTexts& entry : m_fonts)
        if (entry.font == font) {
            cache = &entry;
            break;
        }
    if (!cache)
        cache = &m_fonts.emplace_back(FontTexts{font, {}});
    if (const auto found = cache->texts.constFind(text); found != cache->texts.cend())
        return *found;
    if (static_cast<std::size_t>(cache->texts.size()) >= kCachedTexts)
        cache->texts.clear();
    QStaticText prepared(text);
    prepared.setTextFormat(Qt::PlainText);
    prepared.prepare(QTransform(), font);
    return *cache->texts.insert(text, prepared);
}

} // namespace rio::monitor
