#include "platform/ui/WindowRestore.h"

#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace {

// Long enough for the activation token's round trip to the compositor and back.
constexpr int kActivationWaitMs = 300;

bool onWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

} // namespace

namespace windowrestore {

void restore(QWidget* window) {
    if (!window)
        return;
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    if (!onWayland() || !window->isVisible())
        return;
    window->activateWindow();
    QTimer::singleShot(kActivationWaitMs, window, [shown = QPointer<QWidget>(window)] {
        if (!shown || shown->isActiveWindow() || !shown->isVisible())
            return;
        shown->hide();
        shown->show();
    });
}

} // namespace windowrestore
