#include "monitor/frame_view.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>
#include <cstdlib>

namespace rio::monitor {

// A scroll bar that, when its range, steps or value change, repaints only
// where the ends and the middle of its handle were and are, instead of the
// whole bar, which a style with gradients paints at a cost worth saving at
// every batch, for a handle that moved by a pixel or not at all. Groove and handle are drawn the
// same along their length (styles that mark the handle's middle do it within a few pixels of it),
// so nothing else changes. The arrows are repainted when the value reaches or leaves an end, which
// some styles show on them, and the whole bar when it becomes enabled or disabled.
//
// A batch changes the range and then the value. Held across the batch, the
// bar compares only the look before with the look after: the handle's way
// through the new range and back, and the value leaving the end and coming
// back to it, are never painted.
class HandleScrollBar : public QScrollBar {
public:
    HandleScrollBar(Qt::Orientation orientation, QWidget* parent)
        : QScrollBar(orientation, parent) {}

    void hold() { m_held = true; }
    void release() {
        m_held = false;
        repaintChanged();
    }

protected:
    void sliderChange(SliderChange change) override {
        if (change == SliderOrientationChange) {
            m_look.known = false;
            QScrollBar::sliderChange(change);
            return;
        }
        if (!m_held)
            repaintChanged();
    }

    void resizeEvent(QResizeEvent* event) override {
        m_look.known = false;
        QScrollBar::resizeEvent(event);
    }

private:
    struct Look {
        bool known = false;
        QRect handle;
        bool disabled = false;
        bool atFirst = false;
        bool atLast = false;
    };

    [[nodiscard]] Look look(const QStyleOptionSlider& option) const {
        Look look;
        look.known = true;
        look.handle = style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                              QStyle::SC_ScrollBarSlider, this);
        look.disabled = minimum() == maximum();
        look.atFirst = value() == minimum();
        look.atLast = value() == maximum();
        return look;
    }

    void repaintChanged() {
        QStyleOptionSlider option;
        initStyleOption(&option);
        const Look now = look(option);
        if (!m_look.known || now.disabled != m_look.disabled) {
            m_look = now;
            update();
            return;
        }
        if (now.handle != m_look.handle)
            updateMoved(m_look.handle, now.handle);
        if (now.atFirst != m_look.atFirst || now.atLast != m_look.atLast)
            for (const QStyle::SubControl arrow :
                 {QStyle::SC_ScrollBarSubLine, QStyle::SC_ScrollBarAddLine,
                  QStyle::SC_ScrollBarFirst, QStyle::SC_ScrollBarLast})
                update(style()->subControlRect(QStyle::CC_ScrollBar, &option, arrow, this));
        m_look = now;
    }

    // The stretches across the bar between the old and the new position of
    // the handle's start, end and middle, with their surroundings.
    void updateMoved(const QRect& was, const QRect& is) {
        // Borders and rounded corners of the ends; a mark in the middle.
        constexpr int kEnd = 4;
        constexpr int kMiddle = 8;
        const bool vertical = orientation() == Qt::Vertical;
        const auto stretch = [&](int a, int b, int margin) {
            const int from = std::min(a, b) - margin;
            const int length = std::abs(a - b) + 1 + 2 * margin;
            update(vertical ? QRect(0, from, width(), length) : QRect(from, 0, length, height()));
        };
        const auto start = [vertical](const QRect& r) { return vertical ? r.top() : r.left(); };
        const auto end = [vertical](const QRect& r) { return vertical ? r.bottom() : r.right(); };
        const auto middle = [vertical](const QRect& r) {
            return vertical ? r.center().y() : r.center().x();
        };
        stretch(start(was), start(is), kEnd);
        stretch(end(was), end(is), kEnd);
        stretch(middle(was), middle(is), kMiddle);
    }

    Look m_look;
    bool m_held = false;
};

FrameView::FrameView(QWidget* parent) : QTableView(parent) {
    m_bar = new HandleScrollBar(Qt::Vertical, this);
    setVerticalScrollBar(m_bar);
    setVerticalScrollMode(ScrollPerPixel);
}

void FrameView::beginAppend(int removing) {
    const QScrollBar* bar = verticalScrollBar();
    m_following = bar->value() >= bar->maximum();
    m_bar->hold();
    m_value = bar->value();
    // The current row leaving would otherwise scroll the view to the next.
    m_autoScroll = hasAutoScroll();
    setAutoScroll(false);
    m_appending = true;
    m_removing = removing;
    if (removing > 0) {
        // The rows that stay will be drawn higher up by the rows leaving
        // above them: so are their pixels, now, so that what the view is told
        // to repaint while the model changes is already where it belongs.
        const qint64 height = viewport()->height();
        const int dy = static_cast<int>(std::max(
            -height, -static_cast<qint64>(removing) * verticalHeader()->defaultSectionSize()));
        scrollDirtyRegion(0, dy);
        viewport()->scroll(0, dy);
    }
    m_offset = verticalHeader()->offset();
}

void FrameView::endAppend(int inserted) {
    // The scroll range takes the new number of rows now, while the layout
    // repaints nothing.
    executeDelayedItemsLayout();
    m_appending = false;
    setAutoScroll(m_autoScroll);
    // A removal turns the (hidden) row header's updates off until the next
    // layout, which turns them on again.
    verticalHeader()->setUpdatesEnabled(true);
    if (verticalHeader()->offset() != m_offset) {
        // Not expected by pixels, but should a layout move the rows all the
        // same, they are painted again.
        viewport()->update();
    }
    const int rowHeight = verticalHeader()->defaultSectionSize();
    if (m_following) {
        scrollToBottom();
    } else if (m_removing > 0) {
        // Back onto the rows being read: they moved up by the rows that left.
        verticalScrollBar()->setValue(std::max(0, m_value - m_removing * rowHeight));
    }
    m_bar->release();

    // The new rows, where they are shown now, if they are.
    const int first = model()->rowCount(rootIndex()) - inserted;
    const QRect rows(0, rowViewportPosition(first), viewport()->width(), inserted * rowHeight);
    const QRect shown = rows & viewport()->rect();
    if (!shown.isEmpty())
        viewport()->update(shown);
}

void FrameView::doItemsLayout() {
    if (m_appending) {
        // What a layout does but the repaint of every row: endAppend repaints
        // what changed.
        updateGeometries();
        return;
    }
    QTableView::doItemsLayout();
}

} // namespace rio::monitor
