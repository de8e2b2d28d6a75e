#include "platform/audio/WaveLine.h"
#include "platform/audio/WaveLineHook.h"

#include <atomic>

namespace waveline {
namespace {

std::atomic<std::uint16_t> g_volume{kMaxVolume};
std::atomic<bool> g_muted{false};
std::atomic<detail::ChangeListener> g_listener{nullptr};

void announce() {
    if (auto listener = g_listener.load())
        listener();
}

} // namespace

std::uint16_t volume() {
    return g_volume.load();
}

void setVolume(std::uint16_t value) {
    if (g_volume.exchange(value) != value)
        announce();
}

bool muted() {
    return g_muted.load();
}

void setMuted(bool value) {
    if (g_muted.exchange(value) != value)
        announce();
}

void detail::setChangeListener(ChangeListener listener) {
    g_listener.store(listener);
}

} // namespace waveline
