#include "platform/audio/PulseConnection.h"

#include <pulse/pulseaudio.h>

#include <sys/eventfd.h>
#include <unistd.h>

namespace audio {

PulseConnection::PulseConnection(std::string server, const char* name, Timeout connectTimeout,
                                 Timeout requestTimeout)
    : m_server(std::move(server)), m_name(name), m_connectTimeout(connectTimeout),
      m_requestTimeout(requestTimeout), m_loop(pa_threaded_mainloop_new()),
      m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    // interrupt() comes from threads that may hold locks of their own, so it never takes the
    // loop's lock: a counter the loop's thread watches wakes the waiter instead.
    auto onWake = [](pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* data) {
        eventfd_t count;
        eventfd_read(fd, &count);
        static_cast<PulseConnection*>(data)->signal();
    };
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
    api->io_new(api, m_wakeFd, PA_IO_EVENT_INPUT, onWake, this);
    pa_threaded_mainloop_start(m_loop);
}

PulseConnection::~PulseConnection() {
    pa_threaded_mainloop_stop(m_loop);
    disconnect();
    pa_threaded_mainloop_free(m_loop);
    close(m_wakeFd);
}

void PulseConnection::lock() {
    pa_threaded_mainloop_lock(m_loop);
}

void PulseConnection::unlock() {
    pa_threaded_mainloop_unlock(m_loop);
}

bool PulseConnection::connected() const {
    return m_context && pa_context_get_state(m_context) == PA_CONTEXT_READY;
}

bool PulseConnection::connect() {
    if (connected())
        return true;
    disconnect();
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), m_name);
    pa_context_set_state_callback(
        m_context, [](pa_context*, void* data) { static_cast<PulseConnection*>(data)->signal(); },
        this);
    const char* server = m_server.empty() ? nullptr : m_server.c_str();
    if (pa_context_connect(m_context, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        disconnect();
        return false;
    }
    waitUntil([this] { return connected(); }, Wait::Connect);
    return connected();
}

void PulseConnection::disconnect() {
    if (!m_context)
        return;
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
}

bool PulseConnection::waitUntil(const std::function<bool()>& done, Wait wait) {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
    pa_time_event* timer = nullptr;
    m_timedOut = false;
    if (wait != Wait::UntilInterrupted) {
        const auto timeout = wait == Wait::Connect ? m_connectTimeout : m_requestTimeout;
        timeval at;
        pa_timeval_add(pa_gettimeofday(&at), static_cast<pa_usec_t>(timeout.count()) * 1000);
        auto onTime = [](pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
            auto* self = static_cast<PulseConnection*>(data);
            self->m_timedOut = true;
            self->signal();
        };
        timer = api->time_new(api, &at, onTime, this);
    }
    bool reached = false;
    while (!(reached = done()) && m_context &&
           PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)) && !m_timedOut &&
           !(wait == Wait::UntilInterrupted && takeInterrupt()))
        pa_threaded_mainloop_wait(m_loop);
    if (timer)
        api->time_free(timer);
    if (m_timedOut && !reached)
        disconnect();
    return reached;
}

bool PulseConnection::run(pa_operation* operation, Wait wait) {
    if (!operation)
        return false;
    pa_operation_set_state_callback(
        operation, [](pa_operation*, void* data) { static_cast<PulseConnection*>(data)->signal(); },
        this);
    waitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; },
              wait);
    const auto state = pa_operation_get_state(operation);
    if (state == PA_OPERATION_RUNNING)
        pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return state == PA_OPERATION_DONE;
}

void PulseConnection::sleepFor(std::chrono::microseconds duration) {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
    timeval at;
    pa_timeval_add(pa_gettimeofday(&at), static_cast<pa_usec_t>(duration.count()));
    struct Alarm {
        PulseConnection* self;
        bool rung = false;
    } alarm{this};
    auto onTime = [](pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
        auto* alarm = static_cast<Alarm*>(data);
        alarm->rung = true;
        alarm->self->signal();
    };
    pa_time_event* timer = api->time_new(api, &at, onTime, &alarm);
    waitUntil([&] { return alarm.rung; }, Wait::Request);
    api->time_free(timer);
}

void PulseConnection::signal() {
    pa_threaded_mainloop_signal(m_loop, 0);
}

void PulseConnection::interrupt() {
    m_interrupted = true;
    eventfd_write(m_wakeFd, 1);
}

} // namespace audio
