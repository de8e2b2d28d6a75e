#include "player/frmMenu.h"

#include "platform/ui/ImageControl.h"
#include "platform/ui/Twips.h"
#include "player/InfoPage.h"
#include "player/IniFile.h"
#include "player/MP3Play.h"
#include "player/Program.h"
#include "player/RegAPI.h"
#include "player/Settings.h"
#include "player/frmAbout.h"
#include "player/frmMain.h"

#include <QMenu>

frmMenu::frmMenu(frmMain& main) : m_main(main) {
    mnuMenu = new QMenu(QStringLiteral("Menu"), this);
    mnuPls = mnuMenu->addAction(QStringLiteral("Playlist"), this, &frmMenu::mnuPls_Click);
    one = mnuMenu->addSeparator();
    info = mnuMenu->addAction(QStringLiteral("Information"), this, &frmMenu::info_Click);
    mnuAbout = mnuMenu->addAction(QStringLiteral("About"), this, &frmMenu::mnuAbout_Click);
    two = mnuMenu->addSeparator();
    mnuExit = mnuMenu->addAction(QStringLiteral("Exit"), this, &frmMenu::mnuExit_Click);
}

void frmMenu::mnuPls_Click() {
    const int barHeight = twips::fromPixels(m_main.Image1->height());
    if (m_main.Height() == barHeight) {
        m_main.setHeight(settings::kPlaylistHeight);
        rememberHeight();
        mnuPls->setText(QStringLiteral("Hide Playlist"));
    } else {
        m_main.setHeight(barHeight);
        mnuPls->setText(QStringLiteral("Show Playlist"));
        rememberHeight();
    }
}

// The height is read back from the window, so what is remembered is what the window took.
void frmMenu::rememberHeight() {
    m_main.lblheight = QString::number(m_main.Height());
    WriteIniValue(settings::kSection, settings::kHeightKey, m_main.lblheight, settingsFileName());
}

void frmMenu::info_Click() {
    OpenURL(kInfoPageUrl);
}

void frmMenu::mnuAbout_Click() {
    frmAbout::mnuAbout_Click(&m_main);
}

void frmMenu::mnuExit_Click() {
    MP3Play::StopAll();
    close();
    program::End();
}
