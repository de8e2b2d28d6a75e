#include "platform/ui/DriveList.h"

#include <QDir>
#include <QSignalBlocker>
#include <QStorageInfo>
#include <QStyleOptionComboBox>
#include <QStylePainter>

namespace {

struct Drive {
    QString label;
    QString root;
};

bool isUserMedia(const QString& root) {
    return root.startsWith("/media/") || root.startsWith("/run/media/") || root.startsWith("/mnt/");
}

QList<Drive> listDrives() {
    QList<Drive> drives{{QStringLiteral("/"), QStringLiteral("/")},
                        {QStringLiteral("~ (home)"), QDir::homePath()}};
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const QString root = volume.rootPath();
        if (volume.isValid() && isUserMedia(root))
            drives.append({volume.displayName() + " (" + root + ")", root});
    }
    return drives;
}

} // namespace

DriveList::DriveList(QWidget* parent) : QComboBox(parent) {
    refresh();
    connect(this, &QComboBox::activated, this, &DriveList::change);
}

QString DriveList::drive() const {
    return currentData().toString();
}

void DriveList::refresh() {
    const QSignalBlocker quiet(this);
    const QString chosen = drive();
    clear();
    for (const Drive& d : listDrives())
        addItem(d.label, d.root);
    const int again = findData(chosen);
    setCurrentIndex(again >= 0 ? again : 0);
}

void DriveList::showDriveOf(const QString& path) {
    int best = 0;
    qsizetype bestLength = 0;
    for (int i = 0; i < count(); ++i) {
        const QString root = itemData(i).toString();
        const bool contains =
            path == root || path.startsWith(root.endsWith('/') ? root : root + '/');
        if (contains && root.size() > bestLength) {
            best = i;
            bestLength = root.size();
        }
    }
    const QSignalBlocker quiet(this);
    setCurrentIndex(best);
}

void DriveList::showPopup() {
    refresh();
    QComboBox::showPopup();
}

// Styles paint a closed combo box as a button, whatever its Base colour; the field is filled
// here between the style's frame and its label.
void DriveList::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    painter.fillRect(
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this),
        palette().color(QPalette::Base));
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}
