#pragma once

#include "platform/audio/Output.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

// An output that plays instantly and can be told to fail, for the engine's rules.
//
// Like a sound server, it holds back what is written until it has its start threshold (three
// quarters of the buffer, as PulseAudio's default) or until drain() asks it to start; drop()
// loses what was held back. Heard samples (frames times channels, so that songs that change
// format add up) are those that started. interrupt() is kept until a
// write() that waits or a drain() takes it, as the Output contract allows, so that the engine
// has to cope with an interrupt meant for a command it has carried out already.
//
// Scripting: failOpens() makes opens fail; failWriteAt(n) makes the n-th write from now
// return -1 (broken), and with `thenGone` every open after it fail, as a server that went away; a
// frame budget holds write() at any frame, so that a test controls how far the engine gets; hang()
// makes write() block, deaf to interrupt(), as a stuck device. The test-side functions may be
// called from any thread.
class FakeOutput final : public audio::Output {
public:
    explicit FakeOutput(std::string name) : m_name(std::move(name)) {}

    bool open(const audio::PcmFormat& format, int bufferMs) override {
        std::lock_guard lock(m_mutex);
        ++m_openAttempts;
        if (m_failOpens)
            return false;
        m_open = true;
        m_format = format;
        m_thresholdFrames = 3LL * format.rateHz * bufferMs / 4000;
        m_heldBack = 0;
        m_started = false;
        m_changed.notify_all();
        return true;
    }

    long write(const std::uint8_t*, std::size_t bytes) override {
        std::unique_lock lock(m_mutex);
        if (m_hung) {
            m_hanging = true;
            m_changed.notify_all();
            m_changed.wait(lock, [&] { return !m_hung; });
            m_hanging = false;
        }
        if (m_writesUntilFailure && --*m_writesUntilFailure == 0) {
            m_writesUntilFailure.reset();
            m_failOpens = m_goneAfterFailure;
            return -1;
        }
        // Like a server with room to spare, a write that need not wait leaves an interrupt be.
        if (!hasRoom()) {
            m_changed.wait(lock, [&] { return m_interrupted || hasRoom(); });
            if (std::exchange(m_interrupted, false))
                return 0;
        }
        long long frames = static_cast<long long>(bytes) / m_format.bytesPerFrame();
        if (m_budget)
            frames = std::min(frames, *m_budget - m_written);
        m_written += frames;
        m_heldBack += frames;
        if (m_heldBack >= m_thresholdFrames)
            m_started = true;
        if (m_started)
            hearHeldBack();
        m_changed.notify_all();
        return static_cast<long>(frames * m_format.bytesPerFrame());
    }

    void drop() override {
        std::lock_guard lock(m_mutex);
        m_heldBack = 0;
        m_started = false;
    }

    DrainResult drain() override {
        std::lock_guard lock(m_mutex);
        if (std::exchange(m_interrupted, false))
            return DrainResult::Interrupted;
        hearHeldBack();
        m_changed.notify_all();
        return DrainResult::Drained;
    }

    void pause(bool) override {}

    long long delayFrames() override {
        std::lock_guard lock(m_mutex);
        return m_heldBack + m_latency;
    }

    void close() override {
        std::lock_guard lock(m_mutex);
        m_heldBack = 0;
        m_open = false;
        m_changed.notify_all();
    }

    bool setVolume(std::uint16_t, bool) override { return false; }

    void interrupt() override {
        std::lock_guard lock(m_mutex);
        m_interrupted = true;
        m_changed.notify_all();
    }

    const char* name() const override { return m_name.c_str(); }

    void failOpens(bool fail) {
        std::lock_guard lock(m_mutex);
        m_failOpens = fail;
    }
    void failWriteAt(int nth, bool thenGone = false) {
        std::lock_guard lock(m_mutex);
        m_writesUntilFailure = nth;
        m_goneAfterFailure = thenGone;
    }
    // Its delay is what it holds back and `frames` more, as if on their way to a speaker.
    void setLatency(long long frames) {
        std::lock_guard lock(m_mutex);
        m_latency = frames;
    }
    // write() takes frames only while the total taken stays within `frames` (nullopt: no limit).
    void setFrameBudget(std::optional<long long> frames) {
        std::lock_guard lock(m_mutex);
        m_budget = frames;
        m_changed.notify_all();
    }

    void hang(bool hung) {
        std::lock_guard lock(m_mutex);
        m_hung = hung;
        m_changed.notify_all();
    }
    // Waits until a write() hangs; false on timeout.
    bool waitUntilHanging() const {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return m_hanging; });
    }

    int openAttempts() const {
        std::lock_guard lock(m_mutex);
        return m_openAttempts;
    }
    bool isOpen() const {
        std::lock_guard lock(m_mutex);
        return m_open;
    }
    long long framesWritten() const {
        std::lock_guard lock(m_mutex);
        return m_written;
    }
    long long samplesHeard() const {
        std::lock_guard lock(m_mutex);
        return m_heardSamples;
    }
    audio::PcmFormat format() const {
        std::lock_guard lock(m_mutex);
        return m_format;
    }
    // Waits until at least `frames` have been written in all; false on timeout.
    bool waitForFrames(long long frames,
                       std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_written >= frames; });
    }

private:
    bool hasRoom() const { return !m_budget || *m_budget > m_written; }
    void hearHeldBack() {
        m_heardSamples += m_heldBack * m_format.channels;
        m_heldBack = 0;
        m_started = true;
    }

    const std::string m_name;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_failOpens = false;
    bool m_hung = false;
    bool m_hanging = false;
    std::optional<int> m_writesUntilFailure;
    bool m_goneAfterFailure = false;
    std::optional<long long> m_budget;
    bool m_interrupted = false;
    bool m_open = false;
    int m_openAttempts = 0;
    audio::PcmFormat m_format;
    long long m_thresholdFrames = 0;
    long long m_heldBack = 0;
    long long m_latency = 0;
    bool m_started = false;
    long long m_written = 0;
    long long m_heardSamples = 0;
};
