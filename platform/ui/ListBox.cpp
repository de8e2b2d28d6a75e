#include "platform/ui/ListBox.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QStyledItemDelegate>

#include <algorithm>
#include <optional>

namespace {

// Draws the caret as the classic thin dotted frame. The styles' own focus marks (a tinted fill
// in Fusion) read as a highlight on an entry that is not selected.
class CaretFrameDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem withoutFocus(option);
        withoutFocus.state &= ~QStyle::State_HasFocus;
        QStyledItemDelegate::paint(painter, withoutFocus, index);
        if (!(option.state & QStyle::State_HasFocus))
            return;
        const bool selected = option.state & QStyle::State_Selected;
        painter->save();
        painter->setPen(
            QPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text), 1,
                 Qt::DotLine));
        painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
        painter->restore();
    }
};

} // namespace

ListBox::ListBox(QWidget* parent) : PlacedWhileShown<QListWidget>(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true); // keeps tens of thousands of entries cheap to lay out
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setItemDelegate(new CaretFrameDelegate(this));
}

QString ListBox::list(int i) const {
    const QListWidgetItem* entry = (i >= 0 && i < count()) ? item(i) : nullptr;
    return entry ? entry->text() : QString();
}

bool ListBox::setList(int i, const QString& text) {
    if (i < 0 || i >= count())
        return false;
    item(i)->setText(text);
    return true;
}

void ListBox::addItem(const QString& text) {
    QListWidget::addItem(text);
}

void ListBox::addItems(const QStringList& texts) {
    QListWidget::addItems(texts);
}

bool ListBox::removeItem(int i) {
    if (i < 0 || i >= count())
        return false;
    const int selected = listIndex();
    const int caretRow = caret();
    delete takeItem(i);
    const int moved = selected > i ? selected - 1 : selected;
    const int kept = selected == i ? -1 : moved;
    // The caret stays with a selected entry that moves up; otherwise at its place, as far as
    // the shorter list reaches.
    place(kept, caretRow == selected && kept >= 0 ? kept : std::min(caretRow, count() - 1));
    return true;
}

void ListBox::clear() {
    QListWidget::clear();
    place(-1, -1);
}

QStringList ListBox::items() const {
    QStringList all;
    all.reserve(count());
    for (int i = 0; i < count(); ++i)
        all << item(i)->text();
    return all;
}

void ListBox::setItems(const QStringList& texts, int selected) {
    const int caretRow = caret();
    QListWidget::clear();
    QListWidget::addItems(texts);
    if (selected < 0 || selected >= count())
        place(-1, std::min(caretRow, count() - 1));
    else
        place(selected, selected);
}

int ListBox::listIndex() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

bool ListBox::setListIndex(int index) {
    if (index < -1 || index >= count())
        return false;
    place(index, index >= 0 ? index : caret());
    if (index >= 0)
        scrollToItem(item(index));
    emit click();
    return true;
}

int ListBox::caret() const {
    return std::max(currentRow(), 0);
}

void ListBox::place(int selected, int caretRow) {
    const QScopedValueRollback placing(m_placing, true);
    QItemSelectionModel* selection = selectionModel();
    const QModelIndex caretIndex = model()->index(caretRow, 0);
    selection->setCurrentIndex(caretIndex, QItemSelectionModel::NoUpdate);
    if (selected >= 0)
        selection->select(model()->index(selected, 0), QItemSelectionModel::ClearAndSelect);
    else
        selection->clearSelection();
}

void ListBox::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QListWidget::selectionChanged(selected, deselected);
    if (!m_placing && !selected.isEmpty())
        setListIndex(selected.indexes().first().row());
}

QItemSelectionModel::SelectionFlags ListBox::selectionCommand(const QModelIndex&,
                                                              const QEvent*) const {
    return QItemSelectionModel::NoUpdate;
}

int ListBox::findStringExact(int start, const QString& text) const {
    const int n = count();
    if (text.isEmpty() || n == 0)
        return -1;
    int first = start + 1;
    if (first < 0 || first >= n)
        first = 0;
    for (int step = 0; step < n; ++step) {
        const int i = (first + step) % n;
        if (item(i)->text().compare(text, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

void ListBox::keyboardSearch(const QString& search) {
    const int n = count();
    if (search.isEmpty() || !search.front().isPrint())
        return;
    for (int step = 1; step <= n; ++step) {
        const int i = (caret() + step) % n;
        if (item(i)->text().startsWith(search.front(), Qt::CaseInsensitive)) {
            setListIndex(i);
            return;
        }
    }
}

int ListBox::rowAt(const QPoint& position) const {
    return indexAt(position).row();
}

// While the button is held the selection follows the pointer; above or below the list it moves
// one entry beyond the visible ones, which scrolls the list. The empty area below the entries
// keeps the selection where it is.
int ListBox::rowWhileDragging(const QPoint& position) const {
    const QRect area = viewport()->rect();
    const int x = std::clamp(position.x(), area.left(), area.right());
    if (position.y() < area.top())
        return std::max(rowAt({x, area.top()}) - 1, 0);
    if (position.y() > area.bottom()) {
        const int lastShown = rowAt({x, area.bottom()});
        return lastShown < 0 ? -1 : std::min(lastShown + 1, count() - 1);
    }
    return rowAt({x, position.y()});
}

void ListBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const int row = rowAt(event->position().toPoint());
    m_pressedRow = row;
    m_dragging = row >= 0;
    if (m_dragging)
        setListIndex(row);
}

void ListBox::mouseMoveEvent(QMouseEvent* event) {
    if (!m_dragging || !(event->buttons() & Qt::LeftButton))
        return;
    const int row = rowWhileDragging(event->position().toPoint());
    if (row >= 0 && row != listIndex())
        setListIndex(row);
}

void ListBox::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
}

// Qt reports a second press soon after the first as a double click in place of the press,
// whichever entry it lands on; only a second press on the entry of the first is one.
void ListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    const int row = rowAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && row >= 0 && row == m_pressedRow)
        emit dblClick();
    else
        mousePressEvent(event);
}

int ListBox::rowHeight() const {
    return std::max(sizeHintForRow(0), 1);
}

int ListBox::pageRows() const {
    return std::max(viewport()->height() / rowHeight(), 1);
}

std::optional<int> ListBox::rowForKey(int key) const {
    const int last = count() - 1;
    switch (key) {
    case Qt::Key_Up:
    case Qt::Key_Left:
        return std::max(caret() - 1, 0);
    case Qt::Key_Down:
    case Qt::Key_Right:
        return std::min(caret() + 1, last);
    case Qt::Key_PageUp:
        return std::max(caret() - pageRows() + 1, 0);
    case Qt::Key_PageDown:
        return std::min(caret() + pageRows() - 1, last);
    case Qt::Key_Home:
        return 0;
    case Qt::Key_End:
        return last;
    case Qt::Key_Space:
    case Qt::Key_Select:
        return caret();
    default:
        return std::nullopt;
    }
}

void ListBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        activateCaretEntry();
        return;
    }
    const std::optional<int> row = rowForKey(event->key());
    if (!row) {
        QListWidget::keyPressEvent(event); // typed letters come back through keyboardSearch
        return;
    }
    if (count() == 0)
        return;
    // Where the selection and the caret have parted (nothing selected yet, or the selected
    // entry removed), the first key selects the caret's entry instead of moving from it.
    const bool selectsOnly = event->key() == Qt::Key_Space || event->key() == Qt::Key_Select;
    if (listIndex() != caret())
        setListIndex(caret());
    else if (!selectsOnly)
        setListIndex(*row);
}

void ListBox::activateCaretEntry() {
    if (count() == 0)
        return;
    if (listIndex() != caret())
        setListIndex(caret());
    emit dblClick();
}
