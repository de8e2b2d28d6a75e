#include "platform/desktop/Desktop.h"
#include "player/frmMain.h"
#include "player/mpris/MprisService.h"

#include <QApplication>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

constexpr const char* kNeedsDisplay =
    "quiva: the player needs a graphical session (X11 or Wayland), and none could be reached.\n"
    "Start it from a desktop, or set DISPLAY or WAYLAND_DISPLAY to a running one.\n";

bool isSet(const char* variable) {
    const char* value = std::getenv(variable);
    return value && *value;
}

// Qt ends a start without a usable display with a fatal message and an abort (a core dump); the
// user is told plainly instead, and the program ends with an ordinary failure.
QtMessageHandler g_qtHandler = nullptr;

void endPlainlyOnFatal(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        g_qtHandler(type, context, text);
        return;
    }
    std::fputs(kNeedsDisplay, stderr);
    ::_exit(EXIT_FAILURE);
}

} // namespace

int main(int argc, char** argv) {
    // A platform chosen on purpose (QT_QPA_PLATFORM) is Qt's to judge.
    if (!isSet("QT_QPA_PLATFORM") && !isSet("DISPLAY") && !isSet("WAYLAND_DISPLAY")) {
        std::fputs(kNeedsDisplay, stderr);
        return EXIT_FAILURE;
    }
    // The window's only steady painting is two small strips ten times a second. Through shared
    // memory Qt waits for the X server to be done with the last picture before painting the
    // next one, a round trip per tick; sent in the request, a strip's few kilobytes cost none.
    if (!isSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
    g_qtHandler = qInstallMessageHandler(endPlainlyOnFatal);
    QApplication app(argc, argv);
    qInstallMessageHandler(g_qtHandler);
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
