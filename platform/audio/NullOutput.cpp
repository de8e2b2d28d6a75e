#include "platform/audio/NullOutput.h"

#include <algorithm>
#include <utility>

namespace audio {

bool NullOutput::open(const PcmFormat& format, int bufferMs) {
    m_format = format;
    m_bufferFrames = std::max<long long>(1, 1LL * format.rateHz * bufferMs / 1000);
    m_queued = 0;
    m_mark = Clock::now();
    m_paused = false;
    return true;
}

long long NullOutput::queuedFrames(Clock::time_point now) const {
    if (m_paused)
        return m_queued;
    const auto elapsedUs =
        std::chrono::duration_cast<std::chrono::microseconds>(now - m_mark).count();
    return std::max<long long>(0, m_queued - elapsedUs * m_format.rateHz / 1000000);
}

long NullOutput::write(const std::uint8_t*, std::size_t bytes) {
    const long long wanted = static_cast<long long>(bytes) / m_format.bytesPerFrame();
    for (;;) {
        const auto now = Clock::now();
        const long long queued = queuedFrames(now);
        const long long room = m_bufferFrames - queued;
        if (room > 0) {
            const long long taken = std::min(room, wanted);
            m_queued = queued + taken;
            m_mark = now;
            return static_cast<long>(taken * m_format.bytesPerFrame());
        }
        // Wake when a quarter of the buffer has played: few wake-ups, like a real card.
        const auto quarter = std::chrono::microseconds(m_bufferFrames * 250000 / m_format.rateHz);
        if (!sleepUntil(now + quarter))
            return 0;
    }
}

void NullOutput::drop() {
    m_queued = 0;
    m_mark = Clock::now();
}

Output::DrainResult NullOutput::drain() {
    for (;;) {
        const long long queued = queuedFrames(Clock::now());
        if (queued == 0)
            return DrainResult::Drained;
        const auto rest = std::chrono::microseconds(queued * 1000000 / m_format.rateHz + 1);
        if (!sleepUntil(Clock::now() + rest))
            return DrainResult::Interrupted;
    }
}

void NullOutput::pause(bool paused) {
    if (paused == m_paused)
        return;
    const auto now = Clock::now();
    m_queued = queuedFrames(now);
    m_mark = now;
    m_paused = paused;
}

long long NullOutput::delayFrames() {
    return queuedFrames(Clock::now());
}

void NullOutput::close() {
    m_queued = 0;
}

void NullOutput::interrupt() {
    std::lock_guard lock(m_wakeMutex);
    m_interrupted = true;
    m_wake.notify_all();
}

bool NullOutput::sleepUntil(Clock::time_point until) {
    std::unique_lock lock(m_wakeMutex);
    m_wake.wait_until(lock, until, [this] { return m_interrupted; });
    return !std::exchange(m_interrupted, false);
}

} // namespace audio
