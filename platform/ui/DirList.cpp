#include "platform/ui/DirList.h"

#include "platform/ui/Png.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <algorithm>

namespace {

QStringList ancestorsOf(const QString& path) {
    QStringList chain;
    for (QString p = path; !p.isEmpty(); p = (p == "/") ? QString() : QFileInfo(p).path())
        chain.prepend(p);
    return chain;
}

QStringList visibleSubdirectories(const QString& path) {
    QStringList names = QDir(path).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCollator natural;
    natural.setNumericMode(true);
    natural.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(names.begin(), names.end(), natural);
    return names;
}

// Our own folder pictures rather than the style's: those come from the desktop's icon theme,
// whose first lookup reads and parses the theme's index, and the style decodes each of them in
// several sizes. Both weighed heavily on the player's start-up. The @2x picture is drawn for
// screens of two device pixels a window pixel.
QIcon folderIcon(const char* name) {
    const QString base = QStringLiteral(":/platform/") + QLatin1String(name);
    return png::icon({base + ".png", base + "@2x.png"});
}

QString joined(const QString& parent, const QString& name) {
    return parent.endsWith('/') ? parent + name : parent + '/' + name;
}

} // namespace

DirList::DirList(QWidget* parent)
    : PlacedWhileShown<QListWidget>(parent), m_openFolder(folderIcon("folder-open")),
      m_closedFolder(folderIcon("folder-closed")) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    connect(this, &QListWidget::itemDoubleClicked, this, &DirList::openEntry);
    m_path = QDir::cleanPath(QDir::currentPath());
    refresh();
}

bool DirList::setPath(const QString& directory) {
    if (directory.isEmpty())
        return false;
    const QFileInfo info(QDir::current(), directory);
    if (!info.isDir())
        return false;
    m_path = QDir::cleanPath(info.absoluteFilePath());
    refresh();
    emit change();
    return true;
}

void DirList::refresh() {
    clear();
    const QStringList chain = ancestorsOf(m_path);
    for (int depth = 0; depth < chain.size(); ++depth) {
        const QString label = depth == 0 ? chain[0] : QFileInfo(chain[depth]).fileName();
        addEntry(m_openFolder, label, chain[depth], depth);
    }
    setCurrentRow(count() - 1);
    for (const QString& name : visibleSubdirectories(m_path))
        addEntry(m_closedFolder, name, joined(m_path, name), chain.size());
}

void DirList::addEntry(const QIcon& icon, const QString& label, const QString& fullPath,
                       int depth) {
    auto* entry = new QListWidgetItem(icon, QString(depth * 2, ' ') + label, this);
    entry->setData(Qt::UserRole, fullPath);
}

void DirList::openEntry(QListWidgetItem* entry) {
    if (entry && !setPath(entry->data(Qt::UserRole).toString()))
        refresh(); // it vanished: show what is there now
}

void DirList::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        openEntry(currentItem());
    else
        QListWidget::keyPressEvent(event);
}
