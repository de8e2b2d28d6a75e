#pragma once

#include <QListWidget>
#include <QStringList>

// A list box with the classic semantics the player's handlers are written against:
// entries are plain texts, the selection index is -1 for none, an assignment of the index
// from code is either refused (below -1, or at or past the count) or accepted, and every
// accepted assignment and every selection by the user emits click() at once, before the
// assigning code goes on. Adding, removing or clearing entries never emits click().
// UI thread only.
class ListBox : public QListWidget {
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
    // Every entry, in order.
    QStringList items() const;
    // Replaces every entry at once; the selection is cleared without a click().
    void setItems(const QStringList& texts);

    int listIndex() const { return currentRow(); }
    // False when the index is refused; otherwise selects it (-1: none) and emits click().
    bool setListIndex(int index);
    // The selected entry's text, or the empty text when nothing is selected.
    QString text() const { return list(listIndex()); }

    // The exact-string search of the classic list box: compares whole entries without regard
    // to case, starts at entry start + 1 (at entry 0 when that is at or past the end), wraps
    // from the last entry to the first, ends with entry start itself, and returns the index of
    // the first match, or -1. The empty text matches nothing.
    int findStringExact(int start, const QString& text) const;

signals:
    void click();
    void dblClick();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void selectWithoutClick(int index);
};
