#pragma once

#include "platform/audio/Output.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace audio {

// An ideal sound card that nobody listens to: it takes audio at exactly the rate a real one
// would play it, so playback keeps its timing (and its low cost) when no sound system exists.
// Volume is left to the engine.
class NullOutput final : public Output {
public:
    bool open(const PcmFormat& format, int bufferMs) override;
    long write(const std::uint8_t* data, std::size_t bytes) override;
    void drop() override;
    DrainResult drain() override;
    void pause(bool paused) override;
    void close() override;
    long long delayFrames() override;
    bool setVolume(std::uint16_t, bool) override { return false; }
    void interrupt() override;
    const char* name() const override { return "null"; }

private:
    using Clock = std::chrono::steady_clock;
    // Frames written but not yet "played" at this moment.
    long long queuedFrames(Clock::time_point now) const;
    // Sleeps until `until` or an interrupt; returns false when interrupted.
    bool sleepUntil(Clock::time_point until);

    PcmFormat m_format;
    long long m_bufferFrames = 0;
    long long m_queued = 0;   // frames queued at m_mark
    Clock::time_point m_mark; // when m_queued was last brought up to date
    bool m_paused = false;

    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    bool m_interrupted = false;
};

} // namespace audio
