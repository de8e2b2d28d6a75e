#include "platform/ui/DriveList.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
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

// Qt names a combo box on Linux by its current text and leaves its name to a label beside it;
// the creator panel has none, so this interface names the box and keeps Qt's combo box ways:
// the current drive as its value, its open drop-down list as its child, the actions that open it.
class AccessibleDriveList : public QAccessibleWidget {
public:
    explicit AccessibleDriveList(DriveList* list)
        : QAccessibleWidget(list, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Value ? list()->currentText() : QAccessibleWidget::text(t);
    }
    // The drop-down list while it is open: the entries of a closed one are nowhere on screen.
    int childCount() const override { return list()->view()->isVisible() ? 1 : 0; }
    QAccessibleInterface* child(int index) const override {
        return index < childCount() ? QAccessible::queryAccessibleInterface(list()->view())
                                    : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && child->object() == list()->view() ? 0 : -1;
    }
    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    void doAction(const QString& action) override {
        if (actionNames().contains(action))
            list()->showPopup();
    }

private:
    DriveList* list() const { return static_cast<DriveList*>(widget()); }
};

QAccessibleInterface* accessibleDriveList(const QString& className, QObject* object) {
    auto* list = qobject_cast<DriveList*>(object);
    return className == QLatin1String("DriveList") && list ? new AccessibleDriveList(list)
                                                           : nullptr;
}

} // namespace

DriveList::DriveList(QWidget* parent) : QComboBox(parent) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleDriveList);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
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
