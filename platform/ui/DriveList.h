#pragma once

#include <QComboBox>

// The drive list of the playlist creator: the file systems a user cares about on Linux — the
// root, the home folder and mounted removable or extra media — each by its root path. Its field
// and its dropped-down list show the palette's Base colour (the control's back colour), as the
// list boxes do; the drop-down button keeps the style's own look. UI thread only.
class DriveList : public QComboBox {
    Q_OBJECT
public:
    explicit DriveList(QWidget* parent = nullptr);

    // Root path of the chosen drive ("/" for the root file system).
    QString drive() const;
    // Chooses the drive whose root is the longest prefix of `path`; no change() is emitted.
    void showDriveOf(const QString& path);
    // Lists the drives again (media come and go); keeps the choice where it still exists.
    void refresh();
    // Lists the drives again before the drop-down opens.
    void showPopup() override;

signals:
    // The user chose another drive.
    void change();

protected:
    void paintEvent(QPaintEvent* event) override;
};
