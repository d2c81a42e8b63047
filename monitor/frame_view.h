#pragma once
// The frames' table view. Rows only ever join at the end (and the oldest
// leave from the start once the ring is full), so a batch repaints only the
// rows it brought: the rows already shown are moved on the screen as they
// are, instead of the whole view being laid out and painted again as a
// change in the number of rows otherwise makes it. It scrolls by pixels, so
// that a layout never moves the rows on its own. Its scroll bar, whose
// range and value change with every batch, repaints once a batch is in, and
// only where its handle was and is.

#include <QTableView>

namespace rio::monitor {

class HandleScrollBar;

class FrameView : public QTableView {
    Q_OBJECT
public:
    explicit FrameView(QWidget* parent = nullptr);

    // Around a batch: between the two calls the model removes `removing`
    // rows from its start and adds `inserted` at its end, and nothing else.
    // The view follows the newest rows if it was scrolled to the bottom, and
    // otherwise stays on the rows being read.
    void beginAppend(int removing);
    void endAppend(int inserted);

    void doItemsLayout() override;

private:
    HandleScrollBar* m_bar = nullptr;
    bool m_appending = false;
    // As they were before the batch.
    bool m_following = true;
    bool m_autoScroll = true;
    int m_value = 0;
    int m_offset = 0;
    int m_removing = 0;
};

} // namespace rio::monitor
