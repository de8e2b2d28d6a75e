#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

struct pa_context;
struct pa_operation;
struct pa_threaded_mainloop;
struct pa_time_event;

namespace audio {

// A connection to a sound server through libpulse (PulseAudio, or PipeWire's pulse server): the
// one place that makes them. libpulse's own thread runs the connection; the other threads hold
// its lock (lock()/unlock(), for std::lock_guard) while they touch the context or anything made
// on it, and wait for the server's answers with waitUntil() or run(). The libpulse callbacks run
// on that thread with the lock held; a callback that a waiter depends on calls signal().
//
// Never starts a server: none answering just means connect() fails. A server that lets a
// request time out is let go of at once (stopped, deadlocked: it is likely to hang again), so
// that it costs one timeout, not one per request; connect() makes a fresh connection.
class PulseConnection {
public:
    using Timeout = std::chrono::milliseconds;

    // `server` as libpulse takes it (empty: the default one); `name` is the client's name there.
    PulseConnection(std::string server, const char* name, Timeout connectTimeout,
                    Timeout requestTimeout);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    void lock();
    void unlock();

    // The calls below need the lock held.

    // Connects unless connected, within the connect timeout; true when ready.
    bool connect();
    bool connected() const;
    pa_context* context() const { return m_context; }

    enum class Wait { Connect, Request, UntilInterrupted };
    // Waits until `done` holds (true), or the connection breaks, the wait's timeout passes or
    // (UntilInterrupted, which has no timeout) interrupt() is called.
    bool waitUntil(const std::function<bool()>& done, Wait wait);
    // Waits for `operation` to finish and releases it; true when it did. One that is cut short
    // is cancelled.
    bool run(pa_operation* operation, Wait wait = Wait::Request);
    // Lets the loop run for `duration` (the server's answers come meanwhile), or less when the
    // connection breaks.
    void sleepFor(std::chrono::microseconds duration);
    // Wakes the waiter, so that it looks at its condition again.
    void signal();

    // Any thread, lock held or not: makes the current or next UntilInterrupted wait end.
    void interrupt();
    // Whether interrupt() was called since the last wait it ended; clears it.
    bool takeInterrupt() { return m_interrupted.exchange(false); }

private:
    void disconnect();

    const std::string m_server;
    const char* const m_name;
    const Timeout m_connectTimeout;
    const Timeout m_requestTimeout;
    pa_threaded_mainloop* m_loop;
    pa_context* m_context = nullptr;
    int m_wakeFd;
    bool m_timedOut = false; // of the running wait
    std::atomic<bool> m_interrupted{false};
};

} // namespace audio
