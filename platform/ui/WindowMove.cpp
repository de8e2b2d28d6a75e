#include "platform/ui/WindowMove.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

namespace windowmove {
namespace {

SystemMover& mover() {
    static SystemMover instance;
    return instance;
}

} // namespace

bool compositorMoves() {
    return mover() || QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

bool startSystemMove(QWidget* window) {
    if (!window)
        return false;
    if (mover())
        return mover()(window);
    QWindow* handle = window->window()->windowHandle();
    return handle && handle->startSystemMove();
}

void setSystemMover(SystemMover m) {
    mover() = std::move(m);
}

} // namespace windowmove
