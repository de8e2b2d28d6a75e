#include "platform/ui/ListBox.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QSignalBlocker>

ListBox::ListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true); // keeps tens of thousands of entries cheap to lay out
    setEditTriggers(QAbstractItemView::NoEditTriggers);
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

void ListBox::addItem(const QString& text) { QListWidget::addItem(text); }

void ListBox::addItems(const QStringList& texts) { QListWidget::addItems(texts); }

bool ListBox::removeItem(int i) {
    if (i < 0 || i >= count())
        return false;
    const QSignalBlocker quiet(this);
    delete takeItem(i);
    return true;
}

QStringList ListBox::items() const {
    QStringList all;
    all.reserve(count());
    for (int i = 0; i < count(); ++i)
        all << item(i)->text();
    return all;
}

void ListBox::setItems(const QStringList& texts) {
    const QSignalBlocker quiet(this);
    QListWidget::clear();
    QListWidget::addItems(texts);
    setCurrentRow(-1);
}

bool ListBox::setListIndex(int index) {
    if (index < -1 || index >= count())
        return false;
    selectWithoutClick(index);
    emit click();
    return true;
}

void ListBox::selectWithoutClick(int index) {
    const QSignalBlocker quiet(this);
    setCurrentRow(index);
    if (index < 0)
        clearSelection();
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

void ListBox::mousePressEvent(QMouseEvent* event) {
    QListWidget::mousePressEvent(event);
    const QModelIndex hit = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && hit.isValid())
        setListIndex(hit.row());
}

void ListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    QListWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid())
        emit dblClick();
}

void ListBox::keyPressEvent(QKeyEvent* event) {
    const int before = currentRow();
    QListWidget::keyPressEvent(event);
    if (currentRow() != before)
        setListIndex(currentRow());
}
