#include "platform/desktop/Desktop.h"
#include "player/frmMain.h"
#include "player/mpris/MprisService.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The browser and system-information lookups answer from the desktop's own settings.
    desktop::installRegistryProviders();
    auto* window = new frmMain;
    // Unloading the main window (the skin's cross) destroys it and the controls it hosts.
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->Form_Load();
    window->show();
    mpris::startOnSessionBus(*window);
    return app.exec();
}
