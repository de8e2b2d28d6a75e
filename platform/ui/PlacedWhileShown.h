#pragma once

#include <QAbstractItemView>
#include <QModelIndex>
#include <QRect>

// An item view whose entries have no place on screen while the view is not visible. Qt's
// accessibility reports an entry as showing when its place meets the view's own rectangle,
// which a hidden view keeps: without this, a screen reader would read the entries of a closed
// panel's list as on screen. Qt's own scrolling still sees the real places. UI thread only.
template <class View> class PlacedWhileShown : public View {
public:
    using View::View;

    QRect visualRect(const QModelIndex& index) const override {
        return m_scrolling || this->isVisible() ? View::visualRect(index) : QRect();
    }
    // A hidden list still scrolls to its selection, so that the entry shows when the list does.
    void scrollTo(const QModelIndex& index,
                  QAbstractItemView::ScrollHint hint = QAbstractItemView::EnsureVisible) override {
        m_scrolling = true;
        View::scrollTo(index, hint);
        m_scrolling = false;
    }

private:
    bool m_scrolling = false;
};
