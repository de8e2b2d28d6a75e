#pragma once

#include "platform/ui/PlacedWhileShown.h"

#include <QListWidget>

// The directory list of the playlist creator, as the classic control shows it: the current
// directory's ancestors from the root down, the current directory opened, and below it its
// subdirectories. Opening an entry (double click, Enter) makes it the current directory.
// Hidden dot-directories are not offered, but one the user went into shows among the
// ancestors. A directory that cannot be read shows without children. UI thread only.
class DirList : public PlacedWhileShown<QListWidget> {
    Q_OBJECT
public:
    explicit DirList(QWidget* parent = nullptr);

    // The current directory, absolute and cleaned: no trailing separator but for the root.
    QString path() const { return m_path; }
    // Makes `directory` (absolute, or relative to the process's current directory) current
    // and emits change(). Returns false and changes nothing when it is empty or names no
    // existing directory.
    bool setPath(const QString& directory);
    // Reads the current directory again (it may have changed or vanished meanwhile).
    void refresh();

signals:
    void change();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void openEntry(QListWidgetItem* entry);
    void addEntry(const QIcon& icon, const QString& label, const QString& fullPath, int depth);

    QString m_path;
    QIcon m_openFolder;
    QIcon m_closedFolder;
};
