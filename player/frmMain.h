#pragma once

#include <QWidget>

// The player's main window.
class frmMain : public QWidget {
    Q_OBJECT
public:
    explicit frmMain(QWidget* parent = nullptr);
    // Runs the load handler; the window is shown afterwards.
    void load();
};
