#include "platform/audio/PulseVolume.h"
#include "platform/audio/WaveLine.h"
#include "platform/mixer/Backends.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>
#include <pulse/volume.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <string>

// The sound server as a one-device mixer. Every request runs the client's own main loop on the
// calling thread until the answer arrives or the deadline passes, so a server that hangs or goes
// away costs the caller at most one timeout and never blocks it for good. The wave-out line is
// polled ten times a second and asks the server nothing: a watcher keeps it in step with the
// server as the server reports changes of the playing stream.
namespace mixer {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kDefaultSink = "@DEFAULT_SINK@";
// Retrying a dead server on every poll would cost a timeout each time; once a second is enough.
constexpr std::chrono::seconds kReconnectPause{1};

enum LineId : std::uint32_t { kSpeakersLine = 1, kWaveLine = 2 };
enum ControlId : std::uint32_t {
    kSpeakersVolume = 1,
    kSpeakersMute = 2,
    kWaveVolume = 3,
    kWaveMute = 4,
};

struct SinkState {
    pa_cvolume volume{};
    bool muted = false;
};

// One libpulse context with its own (non-threaded) main loop.
class Connection {
public:
    Connection(const std::string& server, std::chrono::milliseconds timeout) : m_timeout(timeout) {
        m_loop = pa_mainloop_new();
        m_context = pa_context_new(pa_mainloop_get_api(m_loop), "Dalvex");
        const char* serverName = server.empty() ? nullptr : server.c_str();
        if (pa_context_connect(m_context, serverName, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return;
        runUntil([this] {
            auto state = pa_context_get_state(m_context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        });
    }

    ~Connection() {
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        pa_mainloop_free(m_loop);
    }

    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // False once the server went away or let a request time out: a server that hangs once is
    // likely to hang again, and the caller should not wait for it on every request.
    bool ready() const {
        return !m_timedOut && pa_context_get_state(m_context) == PA_CONTEXT_READY;
    }

    bool readDefaultSink(SinkState* state) {
        struct Reply {
            SinkState sink;
            bool found = false;
        } reply;
        auto onInfo = [](pa_context*, const pa_sink_info* info, int eol, void* data) {
            if (eol == 0 && info) {
                auto* r = static_cast<Reply*>(data);
                r->sink.volume = info->volume;
                r->sink.muted = info->mute != 0;
                r->found = true;
            }
        };
        if (!complete(pa_context_get_sink_info_by_name(m_context, kDefaultSink, onInfo, &reply)) ||
            !reply.found)
            return false;
        *state = reply.sink;
        return true;
    }

    bool setDefaultSinkVolume(const pa_cvolume& volume) {
        bool success = false;
        return complete(pa_context_set_sink_volume_by_name(m_context, kDefaultSink, &volume,
                                                           onSuccess, &success)) &&
               success;
    }

    bool setDefaultSinkMute(bool muted) {
        bool success = false;
        return complete(pa_context_set_sink_mute_by_name(m_context, kDefaultSink, muted ? 1 : 0,
                                                         onSuccess, &success)) &&
               success;
    }

private:
    static void onSuccess(pa_context*, int success, void* data) {
        *static_cast<bool*>(data) = success != 0;
    }

    // Runs the loop until the operation has finished; a timeout cancels it.
    bool complete(pa_operation* operation) {
        if (!operation)
            return false;
        bool done = runUntil(
            [operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
        if (!done)
            pa_operation_cancel(operation);
        bool finished = pa_operation_get_state(operation) == PA_OPERATION_DONE;
        pa_operation_unref(operation);
        return finished;
    }

    template <typename Predicate> bool runUntil(Predicate finished) {
        const auto deadline = Clock::now() + m_timeout;
        while (!finished()) {
            if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)))
                return false;
            auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                m_timedOut = true;
                return false;
            }
            if (pa_mainloop_prepare(m_loop, static_cast<int>(left.count())) < 0 ||
                pa_mainloop_poll(m_loop) < 0 || pa_mainloop_dispatch(m_loop) < 0)
                return false;
        }
        return true;
    }

    std::chrono::milliseconds m_timeout;
    pa_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    bool m_timedOut = false;
};

// Keeps the wave line in step with this program's stream on the server: the server reports every
// change of a stream, and for a change of ours the watcher asks what the stream holds now and
// hands that to the line. It runs libpulse's own thread, which sleeps until the server speaks,
// so reading the line costs nothing and never waits for the server, even for one that hangs.
class StreamWatcher {
public:
    explicit StreamWatcher(const std::string& server) : m_loop(pa_threaded_mainloop_new()) {
        m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "Dalvex watcher");
        pa_context_set_state_callback(m_context, onState, this);
        pa_context_set_subscribe_callback(m_context, onEvent, this);
        const char* serverName = server.empty() ? nullptr : server.c_str();
        if (pa_context_connect(m_context, serverName, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            pa_threaded_mainloop_start(m_loop) < 0)
            m_failed = true;
    }

    ~StreamWatcher() {
        pa_threaded_mainloop_stop(m_loop);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        pa_threaded_mainloop_free(m_loop);
    }

    StreamWatcher(const StreamWatcher&) = delete;
    StreamWatcher& operator=(const StreamWatcher&) = delete;

    // False once the server went away (or was never reached).
    bool alive() const { return !m_failed.load(); }

private:
    // The callbacks below run on the loop's thread.
    static void onState(pa_context* context, void* data) {
        auto* self = static_cast<StreamWatcher*>(data);
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            if (auto* op = pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr,
                                                nullptr))
                pa_operation_unref(op);
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            self->m_failed = true;
            break;
        default:
            break;
        }
    }

    static void onEvent(pa_context* context, pa_subscription_event_type_t event,
                        std::uint32_t index, void* data) {
        auto* self = static_cast<StreamWatcher*>(data);
        if ((event & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_CHANGE)
            return;
        // One question at a time: changes that come while it is on its way (a slider dragged
        // in the desktop's mixer) are answered by one more question once it is answered.
        if (self->m_asking)
            self->m_askAgain = true;
        else
            self->ask(context, index);
    }

    void ask(pa_context* context, std::uint32_t index) {
        // Taken now, the reading's ticket marks what the line knew before the answer: a change
        // of the line made meanwhile makes the answer stale, and it is then dropped.
        const auto reading = waveline::beginStreamRead();
        if (!reading || reading->stream.index != index)
            return;
        m_reading = *reading;
        m_askAgain = false;
        auto* op = pa_context_get_sink_input_info(context, index, onStreamInfo, this);
        m_asking = op != nullptr;
        if (op)
            pa_operation_unref(op);
    }

    static void onStreamInfo(pa_context* context, const pa_sink_input_info* info, int eol,
                             void* data) {
        auto* self = static_cast<StreamWatcher*>(data);
        if (eol == 0) {
            if (info && info->client == self->m_reading.stream.client)
                waveline::streamFound(self->m_reading,
                                      waveline::pulse::fromServer(pa_cvolume_max(&info->volume),
                                                                  self->m_reading.stream.volume),
                                      info->mute != 0);
            return;
        }
        self->m_asking = false;
        if (self->m_askAgain)
            self->ask(context, self->m_reading.stream.index);
    }

    pa_threaded_mainloop* m_loop;
    pa_context* m_context;
    std::atomic<bool> m_failed{false};
    // On the loop's thread only.
    waveline::StreamReading m_reading;
    bool m_asking = false;
    bool m_askAgain = false;
};

class PulseService final : public Service {
public:
    PulseService(std::string server, std::chrono::milliseconds timeout,
                 std::unique_ptr<Connection> connection)
        : m_server(std::move(server)), m_timeout(timeout), m_connection(std::move(connection)),
          m_watcher(std::make_unique<StreamWatcher>(m_server)) {}

    int deviceCount() override {
        std::lock_guard lock(m_mutex);
        return connected() ? 1 : 0;
    }

    Result open(int index, Handle* handle) override {
        std::lock_guard lock(m_mutex);
        if (index != 0 || !connected())
            return kBadDeviceId;
        *handle = m_nextHandle++;
        m_handles.insert(*handle);
        return kNoError;
    }

    Result findLine(Handle handle, ComponentType type, std::uint32_t* lineId) override {
        std::lock_guard lock(m_mutex);
        if (!m_handles.contains(handle))
            return kInvalidHandle;
        if (type == ComponentType::Speakers)
            *lineId = kSpeakersLine;
        else if (type == ComponentType::WaveOut)
            *lineId = kWaveLine;
        else
            return kInvalidLine;
        return kNoError;
    }

    Result findControl(Handle handle, std::uint32_t lineId, ControlType type,
                       ControlInfo* info) override {
        std::lock_guard lock(m_mutex);
        if (!m_handles.contains(handle))
            return kInvalidHandle;
        const bool speakers = lineId == kSpeakersLine;
        if (!speakers && lineId != kWaveLine)
            return kInvalidControl;
        if (type != ControlType::Volume && type != ControlType::Mute)
            return kInvalidControl;
        ControlInfo found;
        found.type = type;
        if (type == ControlType::Volume) {
            found.controlId = speakers ? kSpeakersVolume : kWaveVolume;
            found.maximum = speakers ? PA_VOLUME_NORM : waveline::kMaxVolume;
        } else {
            found.controlId = speakers ? kSpeakersMute : kWaveMute;
            found.maximum = 1;
        }
        *info = found;
        return kNoError;
    }

    Result getValue(Handle handle, std::uint32_t controlId, std::int32_t* value) override {
        std::lock_guard lock(m_mutex);
        if (!m_handles.contains(handle))
            return kInvalidHandle;
        switch (controlId) {
        case kWaveVolume:
            keepWatching();
            *value = waveline::volume();
            return kNoError;
        case kWaveMute:
            keepWatching();
            *value = waveline::muted() ? 1 : 0;
            return kNoError;
        case kSpeakersVolume:
        case kSpeakersMute:
            return readSpeakers(controlId, value);
        default:
            return kInvalidControl;
        }
    }

    Result setValue(Handle handle, std::uint32_t controlId, std::int32_t value) override {
        std::lock_guard lock(m_mutex);
        if (!m_handles.contains(handle))
            return kInvalidHandle;
        switch (controlId) {
        case kWaveVolume:
            waveline::setVolume(static_cast<std::uint16_t>(
                std::clamp<std::int32_t>(value, 0, waveline::kMaxVolume)));
            return kNoError;
        case kWaveMute:
            waveline::setMuted(value != 0);
            return kNoError;
        case kSpeakersVolume:
            return writeSpeakersVolume(value);
        case kSpeakersMute:
            return connected() && m_connection->setDefaultSinkMute(value != 0) ? kNoError : kError;
        default:
            return kInvalidControl;
        }
    }

    Result close(Handle handle) override {
        std::lock_guard lock(m_mutex);
        return m_handles.erase(handle) ? kNoError : kInvalidHandle;
    }

private:
    // Called with the mutex held. A watcher whose server went away is replaced, at most once per
    // pause; until then the line's own values stand, as they do without a stream.
    void keepWatching() {
        if (m_watcher->alive())
            return;
        const auto now = Clock::now();
        if (now - m_lastWatch < kReconnectPause)
            return;
        m_lastWatch = now;
        m_watcher = std::make_unique<StreamWatcher>(m_server);
    }

    Result readSpeakers(std::uint32_t controlId, std::int32_t* value) {
        SinkState sink;
        if (!connected() || !m_connection->readDefaultSink(&sink))
            return kError;
        if (controlId == kSpeakersMute)
            *value = sink.muted ? 1 : 0;
        else
            *value = static_cast<std::int32_t>(
                std::min<pa_volume_t>(pa_cvolume_max(&sink.volume), PA_VOLUME_MAX));
        return kNoError;
    }

    Result writeSpeakersVolume(std::int32_t value) {
        SinkState sink;
        if (!connected() || !m_connection->readDefaultSink(&sink))
            return kError;
        const auto raw =
            static_cast<pa_volume_t>(std::clamp<std::int32_t>(value, 0, PA_VOLUME_NORM));
        pa_cvolume volume;
        pa_cvolume_set(&volume, sink.volume.channels, raw);
        return m_connection->setDefaultSinkVolume(volume) ? kNoError : kError;
    }

    // Called with the mutex held. Replaces a dead connection, at most once per pause.
    bool connected() {
        if (m_connection && m_connection->ready())
            return true;
        const auto now = Clock::now();
        if (now - m_lastAttempt < kReconnectPause)
            return false;
        m_lastAttempt = now;
        m_connection = std::make_unique<Connection>(m_server, m_timeout);
        return m_connection->ready();
    }

    std::mutex m_mutex;
    const std::string m_server;
    const std::chrono::milliseconds m_timeout;
    std::unique_ptr<Connection> m_connection;
    Clock::time_point m_lastAttempt{};
    std::unique_ptr<StreamWatcher> m_watcher;
    Clock::time_point m_lastWatch{};
    std::set<Handle> m_handles;
    Handle m_nextHandle = 1;
};

} // namespace

std::unique_ptr<Service> connectPulseService(const char* server,
                                             std::chrono::milliseconds timeout) {
    std::string serverName = server ? server : "";
    auto connection = std::make_unique<Connection>(serverName, timeout);
    if (!connection->ready())
        return nullptr;
    return std::make_unique<PulseService>(std::move(serverName), timeout, std::move(connection));
}

} // namespace mixer
