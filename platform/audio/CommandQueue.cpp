#include "platform/audio/CommandQueue.h"

#include <memory>
#include <utility>

namespace audio {

// A command's answer. The worker takes a command up only if its caller still waits for it, and
// a caller gives up only on a command not taken up yet: a command that timed out never ran.
struct CommandQueue::Reply {
    std::mutex mutex;
    std::condition_variable answered;
    bool started = false;
    bool withdrawn = false;
    bool finished = false;
};

bool CommandQueue::call(std::function<void()> command,
                        std::optional<WaitClock::Clock::duration> limit) {
    std::shared_ptr<const WaitClock> clock;
    {
        std::lock_guard lock(m_mutex);
        if (limit && m_stalled)
            return false;
        clock = m_clock;
    }
    const auto deadline = clock->now() + limit.value_or(WaitClock::Clock::duration::zero());
    auto reply = std::make_shared<Reply>();
    post([this, reply, command = std::move(command)] {
        {
            std::lock_guard lock(reply->mutex);
            if (reply->withdrawn) { // the worker is back: commands may wait for it again
                std::lock_guard queueLock(m_mutex);
                m_stalled = false;
                return;
            }
            reply->started = true;
        }
        command();
        std::lock_guard lock(reply->mutex);
        reply->finished = true;
        reply->answered.notify_all();
    });
    std::unique_lock lock(reply->mutex);
    const std::function<bool()> finished = [&] { return reply->finished; };
    const bool takenUp =
        !limit || clock->waitUntil(lock, reply->answered, deadline, finished) || reply->started;
    if (takenUp) { // in time: what is left is the command's own work
        reply->answered.wait(lock, finished);
        return true;
    }
    // Before the worker can see the command withdrawn, so that it is the one to lift this.
    reply->withdrawn = true;
    std::lock_guard queueLock(m_mutex);
    m_stalled = true;
    return false;
}

void CommandQueue::post(std::function<void()> command) {
    std::lock_guard lock(m_mutex);
    m_commands.push_back(std::move(command));
    m_queued.notify_one();
    if (m_interrupt)
        m_interrupt();
}

bool CommandQueue::stalled() {
    std::lock_guard lock(m_mutex);
    return m_stalled;
}

void CommandQueue::setInterrupt(std::function<void()> interrupt) {
    std::lock_guard lock(m_mutex);
    m_interrupt = std::move(interrupt);
}

void CommandQueue::setClock(std::shared_ptr<const WaitClock> clock) {
    std::lock_guard lock(m_mutex);
    m_clock = std::move(clock);
}

void CommandQueue::runQueued() {
    std::unique_lock lock(m_mutex);
    while (!m_commands.empty()) {
        auto command = std::move(m_commands.front());
        m_commands.pop_front();
        lock.unlock();
        command();
        command = nullptr; // what it holds (a withdrawn decoder) goes here, unlocked
        lock.lock();
    }
}

void CommandQueue::waitForCommand() {
    std::unique_lock lock(m_mutex);
    m_queued.wait(lock, [this] { return !m_commands.empty(); });
}

} // namespace audio
