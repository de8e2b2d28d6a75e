#pragma once

#include "platform/ui/PlacedWhileShown.h"

#include <QListWidget>
#include <QStringList>

#include <optional>

// A list box with the classic single-selection semantics the player's handlers are written
// against. Entries are plain texts. The selection index is the one highlighted entry, or -1 with
// nothing highlighted; index and highlight are the same thing in every case, since only this
// class ever selects. Apart from it the list box keeps a caret (the entry that takes the
// keyboard, drawn as a dotted frame, never as a highlight): 0 in a fresh list.
//
// The user selects with the left button (press, or drag with the button held) and with the
// keyboard (arrows, Home, End, the page keys, Space, and a letter for the next entry starting
// with it). Each such input that lands on an entry selects it and emits click() once, at once,
// even when the entry was selected already, as the classic list box notifies; an input that
// lands on none (the empty area below the entries, a key on an empty list) changes nothing.
// The right and middle buttons never select. An assignment of the index from code is either
// refused (below -1, or at or past the count) or accepted and emits click(). Adding, removing,
// replacing or clearing entries never emits click(): the selected entry stays selected where it
// moves to, and removing it leaves nothing selected. A selection made from outside (an
// assistive technology selecting an entry) is the user's too: it selects that entry and emits
// click() once. Return (or Enter) emits dblClick() for the caret's entry, selecting it first,
// as a double click on it does. UI thread only.
class ListBox : public PlacedWhileShown<QListWidget> {
    Q_OBJECT
public:
    explicit ListBox(QWidget* parent = nullptr);

    int listCount() const { return count(); }
    // The text of entry i; an index outside the list reads as the empty text.
    QString list(int i) const;
    // Replaces the text of entry i; false (and no change) for an index outside the list.
    bool setList(int i, const QString& text);
    void addItem(const QString& text);
    void addItems(const QStringList& texts);
    // Removes entry i; false (and no change) for an index outside the list.
    bool removeItem(int i);
    // Removes every entry; nothing is selected afterwards.
    void clear();
    // Every entry, in order.
    QStringList items() const;
    // The height of an entry in pixels (every entry has it; 1 while the list is empty).
    int rowHeight() const;
    // Replaces every entry at once and selects entry `selected` (-1 or out of range: none).
    void setItems(const QStringList& texts, int selected = -1);

    int listIndex() const;
    // False when the index is refused; otherwise selects it (-1: none) and emits click().
    bool setListIndex(int index);
    // The selected entry's text, or the empty text when nothing is selected.
    QString text() const { return list(listIndex()); }

    // The exact-string search of the classic list box: compares whole entries without regard
    // to case, starts at entry start + 1 (at entry 0 when that is at or past the end), wraps
    // from the last entry to the first, ends with entry start itself, and returns the index of
    // the first match, or -1. The empty text matches nothing.
    int findStringExact(int start, const QString& text) const;

    // Selects the next entry after the caret (wrapping) whose text starts with the first
    // character of `search`, without regard to case, as a typed letter does.
    void keyboardSearch(const QString& search) override;

signals:
    void click();
    // Both presses of a double click on the same entry; a quick second press on another entry is
    // a plain press there.
    void dblClick();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;
    // Qt's own ways of selecting (its focus, key and mouse handling, and moving the current row
    // off a removed entry) would select entries this class did not choose: they select nothing.
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;

private:
    int caret() const;
    int rowAt(const QPoint& position) const;
    int rowWhileDragging(const QPoint& position) const;
    // The entry a navigation key moves the caret to; none for other keys.
    std::optional<int> rowForKey(int key) const;
    int pageRows() const;
    void activateCaretEntry();
    // Sets the selection (-1: none) and the caret without a click().
    void place(int selected, int caretRow);

    bool m_dragging = false;
    int m_pressedRow = -1;  // the entry the last left press landed on, -1: none
    bool m_placing = false; // while this class itself changes the selection
};
