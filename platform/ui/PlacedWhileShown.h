#pragma once

#include <QAbstractItemView>
#include <QModelIndex>
#include <QRect>

// An item view whose entries have no place on screen while the view is not visible. Qt's
// accessibility reports an entry as showing when its place meets the view's own rectangle,
// which a hidden view keeps: without this, a screen reader would read the entries of a closed
// panel's list, or of a closed drop-down, as on screen. Qt's own scrolling and sizing still see
// the real places (`measured`). UI thread only.
template <class View> class PlacedWhileShown : public View {
public:
    using View::View;

    QRect visualRect(const QModelIndex& index) const override {
        return m_measuring || this->isVisible() ? View::visualRect(index) : QRect();
    }
    // A hidden list still scrolls to its selection, so that the entry shows when the list does.
    void scrollTo(const QModelIndex& index,
                  QAbstractItemView::ScrollHint hint = QAbstractItemView::EnsureVisible) override {
        measured([&] { View::scrollTo(index, hint); });
    }
    // Runs `work` with the entries at their real places, for work that lays out or sizes by them
    // before the view shows (a drop-down measures its list before it opens).
    template <class Work> void measured(Work work) {
        const bool before = m_measuring;
        m_measuring = true;
        work();
        m_measuring = before;
    }

private:
    bool m_measuring = false;
};
