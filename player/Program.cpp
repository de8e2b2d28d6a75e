#include "player/Program.h"

#include <QCoreApplication>

namespace program {
namespace {
std::function<void()>& endHook() {
    static std::function<void()> hook;
    return hook;
}
} // namespace

void setEndHook(std::function<void()> hook) {
    endHook() = std::move(hook);
}

void End() {
    if (endHook())
        endHook()();
    else
        QCoreApplication::exit(0);
}

} // namespace program
