#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// The time a caller's bounded wait for the engine is measured in: the steady clock, or in tests
// one that moves only when told, so that no test waits out a real time limit.
//
// Thread rule: any thread, concurrently.
namespace audio {

class WaitClock {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~WaitClock() = default;
    virtual Clock::time_point now() const = 0;
    // Blocks on `changed` (with `lock` held) until done() holds or now() reaches `deadline`, and
    // returns done(). Whoever makes done() hold notifies `changed` under the lock.
    virtual bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                           Clock::time_point deadline, const std::function<bool()>& done) const = 0;

    static std::shared_ptr<const WaitClock> steady();

private:
    class Steady;
};

class WaitClock::Steady final : public WaitClock {
public:
    Clock::time_point now() const override { return Clock::now(); }
    bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                   Clock::time_point deadline, const std::function<bool()>& done) const override {
        return changed.wait_until(lock, deadline, done);
    }
};

inline std::shared_ptr<const WaitClock> WaitClock::steady() {
    static const auto clock = std::make_shared<const Steady>();
    return clock;
}

} // namespace audio
