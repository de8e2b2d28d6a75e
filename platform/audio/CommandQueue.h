#pragma once

#include "platform/audio/WaitClock.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

// The commands for one worker thread (the engine's), handed over from any thread. A caller may
// bound its wait, so that a worker held up in a step of its own (a hung device) costs a caller
// one wait, not one for every command.
//
// Thread rule: post(), stalled(), setInterrupt() and setClock() from any thread, call() from any
// but the worker (which would wait for itself); runQueued() and waitForCommand() on the worker
// thread only, which runs every command, one at a time, in the order they came, with the queue
// unlocked.
//
// Error contract: call() with a limit returns false when the worker has not taken the command up
// within it: the command is withdrawn and never runs. From then until the worker comes to the
// withdrawn command the queue is stalled, and every call() with a limit returns false at once. A
// command taken up in time is waited for to its end, however long that takes.
namespace audio {

class CommandQueue {
public:
    explicit CommandQueue(std::shared_ptr<const WaitClock> clock = WaitClock::steady())
        : m_clock(std::move(clock)) {}

    // Runs `command` on the worker and waits for it: true when it ran (see above for false).
    bool call(std::function<void()> command, std::optional<WaitClock::Clock::duration> limit);
    // Hands `command` to the worker without waiting for it.
    void post(std::function<void()> command);
    bool stalled();
    // What makes a worker held up in a step come back to its commands: called under the queue's
    // lock whenever a command comes. Once this returns, the one before is never called again.
    // Empty: none.
    void setInterrupt(std::function<void()> interrupt);
    // The clock limits are measured on from the next call() on.
    void setClock(std::shared_ptr<const WaitClock> clock);

    // Worker: runs the queued commands until none is left.
    void runQueued();
    // Worker: blocks until a command comes.
    void waitForCommand();

private:
    struct Reply;

    std::mutex m_mutex;
    std::shared_ptr<const WaitClock> m_clock;
    std::condition_variable m_queued;
    std::deque<std::function<void()>> m_commands;
    std::function<void()> m_interrupt;
    bool m_stalled = false; // a command was withdrawn, and the worker has not come to it since
};

} // namespace audio
