#pragma once
// Paints a cell's text from a layout made once per distinct text and font,
// as the style would place it. Laying text out (itemising, shaping, eliding)
// is what a cell costs the most; the monitor's cells repeat the same few
// texts ("TX", "read", a board's request) and a row's own texts stay the same
// for as long as it is shown, so each is laid out once instead of on every
// repaint. A cell whose text does not fit, or with a check box, an icon or
// the focus frame, is painted the style's own way.

#include <QFont>
#include <QHash>
#include <QStaticText>
#include <QString>
#include <QStyledItemDelegate>

#include <cstddef>
#include <vector>

namespace rio::monitor {

class PreparedTextDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Rows are shaded by this role of the model (true: the alternate shade)
    // instead of by their position, so a row keeps its shade when the rows
    // above it leave; the view's own alternating row colours are then left
    // off. None by default.
    void setAlternateRole(int role) { m_alternateRole = role; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    // Per font, enough for every text of a few screens of rows; past that
    // the cache starts again rather than growing with the rows.
    static constexpr std::size_t kCachedTexts = 1024;

    [[nodiscard]] const QStaticText& prepared(const QString& text, const QFont& font) const;

    struct FontTexts {
        QFont font;
        QHash<QString, QStaticText> texts;
    };
    // A view uses one or two fonts; a short list is quicker than a key made
    // from the font.
    mutable std::vector<FontTexts> m_fonts;
    int m_alternateRole = -1;
};

} // namespace rio::monitor
