#include "platform/audio/PulseConnection.h"
#include "platform/audio/WaveLine.h"
#include "platform/mixer/Backends.h"

#include <pulse/introspect.h>
#include <pulse/volume.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <string>

// The sound server as a one-device mixer. Every request waits for the server's answer at most
// the service's timeout, so a server that hangs or goes away costs the caller at most one
// timeout and never blocks it for good. The wave-out line asks the server nothing: it is the
// audio engine's line, which the output keeps in step with the playing stream on the server.
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

class PulseService final : public Service {
public:
    PulseService(std::string server, std::chrono::milliseconds timeout)
        : m_connection(std::move(server), "Dalvex", timeout, timeout) {}

    // The first connection; false when no server answers.
    bool start() {
        std::lock_guard lock(m_connection);
        return m_connection.connect();
    }

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
            *value = waveline::volume();
            return kNoError;
        case kWaveMute:
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
            return writeSpeakersMute(value != 0);
        default:
            return kInvalidControl;
        }
    }

    Result close(Handle handle) override {
        std::lock_guard lock(m_mutex);
        return m_handles.erase(handle) ? kNoError : kInvalidHandle;
    }

private:
    // The calls below run with the mutex held.

    Result readSpeakers(std::uint32_t controlId, std::int32_t* value) {
        std::lock_guard lock(m_connection);
        SinkState sink;
        if (!connected() || !readDefaultSink(&sink))
            return kError;
        if (controlId == kSpeakersMute)
            *value = sink.muted ? 1 : 0;
        else
            *value = static_cast<std::int32_t>(
                std::min<pa_volume_t>(pa_cvolume_max(&sink.volume), PA_VOLUME_MAX));
        return kNoError;
    }

    Result writeSpeakersVolume(std::int32_t value) {
        std::lock_guard lock(m_connection);
        SinkState sink;
        if (!connected() || !readDefaultSink(&sink))
            return kError;
        const auto raw =
            static_cast<pa_volume_t>(std::clamp<std::int32_t>(value, 0, PA_VOLUME_NORM));
        pa_cvolume volume;
        pa_cvolume_set(&volume, sink.volume.channels, raw);
        return succeeded(pa_context_set_sink_volume_by_name(m_connection.context(), kDefaultSink,
                                                            &volume, onSuccess, &m_success));
    }

    Result writeSpeakersMute(bool muted) {
        std::lock_guard lock(m_connection);
        if (!connected())
            return kError;
        return succeeded(pa_context_set_sink_mute_by_name(m_connection.context(), kDefaultSink,
                                                          muted ? 1 : 0, onSuccess, &m_success));
    }

    static void onSuccess(pa_context*, int success, void* data) {
        *static_cast<bool*>(data) = success != 0;
    }

    Result succeeded(pa_operation* operation) {
        m_success = false;
        return m_connection.run(operation) && m_success ? kNoError : kError;
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
        if (!m_connection.run(pa_context_get_sink_info_by_name(m_connection.context(), kDefaultSink,
                                                               onInfo, &reply)) ||
            !reply.found)
            return false;
        *state = reply.sink;
        return true;
    }

    // Connects again after the server went away or let a request time out, at most once per
    // pause. The connection's lock may be held already (it nests).
    bool connected() {
        std::lock_guard lock(m_connection);
        if (m_connection.connected())
            return true;
        const auto now = Clock::now();
        if (now - m_lastAttempt < kReconnectPause)
            return false;
        m_lastAttempt = now;
        return m_connection.connect();
    }

    std::mutex m_mutex;
    audio::PulseConnection m_connection;
    Clock::time_point m_lastAttempt{};
    bool m_success = false;
    std::set<Handle> m_handles;
    Handle m_nextHandle = 1;
};

} // namespace

std::unique_ptr<Service> connectPulseService(const char* server,
                                             std::chrono::milliseconds timeout) {
    auto service = std::make_unique<PulseService>(server ? server : "", timeout);
    if (!service->start())
        return nullptr;
    return service;
}

} // namespace mixer
