#pragma once

#include <QWidget>

class QAction;
class QMenu;
class frmMain;

// A window that is never shown: it only holds the player's popup menu.
class frmMenu : public QWidget {
    Q_OBJECT
public:
    explicit frmMenu(frmMain& main);

    void mnuPls_Click();
    void info_Click();
    void mnuAbout_Click();
    void mnuExit_Click();

    QMenu* mnuMenu = nullptr;
    QAction* mnuPls = nullptr;
    QAction* one = nullptr;
    QAction* info = nullptr;
    QAction* mnuAbout = nullptr;
    QAction* two = nullptr;
    QAction* mnuExit = nullptr;

private:
    void rememberHeight();

    frmMain& m_main;
};
