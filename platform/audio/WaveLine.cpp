#include "platform/audio/WaveLine.h"
#include "platform/audio/WaveLineHook.h"

#include <atomic>
#include <mutex>

namespace waveline {
namespace {

// The values are atomics because the engine reads them for every block it writes; changes that
// must see the stream too take the mutex.
std::atomic<std::uint16_t> g_volume{kMaxVolume};
std::atomic<bool> g_muted{false};
std::atomic<detail::ChangeListener> g_listener{nullptr};

std::mutex g_mutex;
std::optional<ServerStream> g_stream; // under g_mutex
std::uint64_t g_ticket = 0;           // under g_mutex; moves on at every change of the above

void announce() {
    if (auto listener = g_listener.load())
        listener();
}

template <typename T> void set(std::atomic<T>& line, T value) {
    {
        std::lock_guard lock(g_mutex);
        if (line.exchange(value) == value)
            return;
        ++g_ticket;
    }
    announce();
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

std::optional<StreamReading> beginStreamRead() {
    std::lock_guard lock(g_mutex);
    if (!g_stream || g_stream->volume != g_volume.load() || g_stream->muted != g_muted.load())
        return std::nullopt;
    return StreamReading{*g_stream, g_ticket};
}

void streamFound(const StreamReading& reading, std::uint16_t volume, bool muted) {
    std::lock_guard lock(g_mutex);
    if (reading.ticket != g_ticket || (volume == g_volume.load() && muted == g_muted.load()))
        return;
    g_stream->volume = volume;
    g_stream->muted = muted;
    g_volume = volume;
    g_muted = muted;
    ++g_ticket;
}

void detail::setChangeListener(ChangeListener listener) {
    g_listener.store(listener);
}

void detail::streamHolds(const ServerStream& stream) {
    std::lock_guard lock(g_mutex);
    g_stream = stream;
    ++g_ticket;
}

void detail::streamGone() {
    std::lock_guard lock(g_mutex);
    g_stream.reset();
    ++g_ticket;
}

} // namespace waveline
