#pragma once

#include "platform/audio/WaitClock.h"

#include <atomic>

// A clock that moves only when told, so that a test reaches a time limit at once. A wait on it
// looks at the time every millisecond; waiters() tells how many wait now, so that a test moves
// the clock once a caller has set its deadline.
class ManualClock final : public audio::WaitClock {
public:
    static inline const Clock::time_point kStart{std::chrono::hours(1)};

    Clock::time_point now() const override { return m_now.load(); }
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                   Clock::time_point deadline, const std::function<bool()>& done) const override {
        ++m_waiters;
        while (!done() && now() < deadline)
            changed.wait_for(lock, std::chrono::milliseconds(1));
        --m_waiters;
        return done();
    }

    void advance(Clock::duration by) { m_now = m_now.load() + by; }
    void set(Clock::time_point to) { m_now = to; }
    int waiters() const { return m_waiters.load(); }

private:
    std::atomic<Clock::time_point> m_now{kStart};
    mutable std::atomic<int> m_waiters{0};
};
