#include "platform/audio/WaveLine.h"
#include "platform/audio/WaveLineHook.h"

#include <atomic>
#include <mutex>

namespace waveline {
namespace {

// The values are atomics because the engine reads them for every block it writes; changes take
// the mutex, so that adopt() sees a change either whole or not at all.
std::atomic<std::uint16_t> g_volume{kMaxVolume};
std::atomic<bool> g_muted{false};
std::atomic<detail::ChangeListener> g_listener{nullptr};
std::mutex g_mutex;

template <typename T> void set(std::atomic<T>& line, T value) {
    {
        std::lock_guard lock(g_mutex);
        if (line.exchange(value) == value)
            return;
    }
    if (auto listener = g_listener.load())
        listener();
}

} // namespace

std::uint16_t volume() {
    return g_volume.load();
}

void setVolume(std::uint16_t value) {
    set(g_volume, value);
}

bool muted() {
    return g_muted.load();
}

void setMuted(bool value) {
    set(g_muted, value);
}

void detail::setChangeListener(ChangeListener listener) {
    g_listener.store(listener);
}

bool detail::adopt(std::uint16_t putVolume, bool putMuted, std::uint16_t volume, bool muted) {
    std::lock_guard lock(g_mutex);
    if (g_volume.load() != putVolume || g_muted.load() != putMuted)
        return false;
    g_volume = volume;
    g_muted = muted;
    return true;
}

} // namespace waveline
