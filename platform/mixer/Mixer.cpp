#include "platform/mixer/Mixer.h"

#include "platform/audio/WaveLine.h"
#include "platform/mixer/Backends.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>

namespace mixer {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kServerTimeout{500};
// Looking for a sound server that did not answer costs a moment: once a second is enough.
constexpr std::chrono::seconds kServerRetryPause{1};

constexpr auto kWaveLine = static_cast<std::uint32_t>(ComponentType::WaveOut);
// Other controls are named by their line and type, the same whichever back end serves them.
constexpr std::uint32_t controlOf(std::uint32_t line, ControlType type) {
    return line << 1 | (type == ControlType::Mute ? 1u : 0u);
}
constexpr std::uint32_t kWaveVolume = controlOf(kWaveLine, ControlType::Volume);
constexpr std::uint32_t kWaveMute = controlOf(kWaveLine, ControlType::Mute);

// The process's mixer follows the sound: its wave-out line is the audio engine's own line,
// which the engine applies to whichever output plays, and its other lines are those of the
// back end the engine plays through first, the sound server when one answers (looked for again
// while none does), else ALSA's cards. Device 0 is always there, for the wave-out line.
class FollowingService final : public Service {
public:
    int deviceCount() override {
        std::lock_guard lock(m_mutex);
        return devices();
    }

    Result open(int index, Handle* handle) override {
        std::lock_guard lock(m_mutex);
        if (index < 0 || index >= devices())
            return kBadDeviceId;
        *handle = m_nextHandle++;
        m_devices[*handle] = index;
        return kNoError;
    }

    Result findLine(Handle handle, ComponentType type, std::uint32_t* lineId) override {
        std::lock_guard lock(m_mutex);
        const auto line = static_cast<std::uint32_t>(type);
        Found found;
        const Result result =
            line == kWaveLine ? known(handle) : lineOnBackend(handle, line, &found);
        if (result == kNoError)
            *lineId = line;
        return result;
    }

    Result findControl(Handle handle, std::uint32_t lineId, ControlType type,
                       ControlInfo* info) override {
        std::lock_guard lock(m_mutex);
        const std::uint32_t controlId = controlOf(lineId, type);
        Found found;
        const Result result =
            lineId == kWaveLine ? known(handle) : controlOnBackend(handle, controlId, &found);
        if (result != kNoError)
            return result;
        if (lineId == kWaveLine)
            found.control.maximum = type == ControlType::Mute ? 1 : waveline::kMaxVolume;
        found.control.type = type;
        found.control.controlId = controlId;
        *info = found.control;
        return kNoError;
    }

    Result getValue(Handle handle, std::uint32_t controlId, std::int32_t* value) override {
        std::lock_guard lock(m_mutex);
        if (controlId == kWaveVolume || controlId == kWaveMute) {
            if (known(handle) != kNoError)
                return kInvalidHandle;
            *value = controlId == kWaveMute ? waveline::muted() : waveline::volume();
            return kNoError;
        }
        Found found;
        const Result result = controlOnBackend(handle, controlId, &found);
        return result == kNoError
                   ? found.service->getValue(found.handle, found.control.controlId, value)
                   : result;
    }

    Result setValue(Handle handle, std::uint32_t controlId, std::int32_t value) override {
        std::lock_guard lock(m_mutex);
        if (controlId == kWaveVolume || controlId == kWaveMute) {
            if (known(handle) != kNoError)
                return kInvalidHandle;
            if (controlId == kWaveMute)
                waveline::setMuted(value != 0);
            else
                waveline::setVolume(static_cast<std::uint16_t>(
                    std::clamp<std::int32_t>(value, 0, waveline::kMaxVolume)));
            return kNoError;
        }
        Found found;
        const Result result = controlOnBackend(handle, controlId, &found);
        return result == kNoError
                   ? found.service->setValue(found.handle, found.control.controlId, value)
                   : result;
    }

    Result close(Handle handle) override {
        std::lock_guard lock(m_mutex);
        if (!m_devices.erase(handle))
            return kInvalidHandle;
        for (auto it = m_opened.begin(); it != m_opened.end();)
            if (it->first.second == handle) {
                it->first.first->close(it->second);
                it = m_opened.erase(it);
            } else {
                ++it;
            }
        return kNoError;
    }

private:
    // A line or control of the back end that plays now, as that back end knows it.
    struct Found {
        Service* service = nullptr;
        Handle handle = 0;
        std::uint32_t line = 0;
        ControlInfo control;
    };

    // The calls below run with the mutex held.

    int devices() { return std::max(1, backend().deviceCount()); }

    Result known(Handle handle) const {
        return m_devices.contains(handle) ? kNoError : kInvalidHandle;
    }

    Result lineOnBackend(Handle handle, std::uint32_t line, Found* found) {
        if (const Result result = known(handle); result != kNoError)
            return result;
        found->service = &backend();
        if (const Result result = openOn(*found->service, handle, &found->handle);
            result != kNoError)
            return result;
        return found->service->findLine(found->handle, static_cast<ComponentType>(line),
                                        &found->line);
    }

    Result controlOnBackend(Handle handle, std::uint32_t controlId, Found* found) {
        if (const Result result = lineOnBackend(handle, controlId >> 1, found); result != kNoError)
            return result == kInvalidHandle ? result : kInvalidControl;
        const auto type = controlId & 1 ? ControlType::Mute : ControlType::Volume;
        return found->service->findControl(found->handle, found->line, type, &found->control);
    }

    // The back end's handle of the device that `handle` opened, opened on first use.
    Result openOn(Service& service, Handle handle, Handle* opened) {
        const auto key = std::make_pair(&service, handle);
        if (const auto it = m_opened.find(key); it != m_opened.end()) {
            *opened = it->second;
            return kNoError;
        }
        const Result result = service.open(m_devices[handle], opened);
        if (result == kNoError)
            m_opened[key] = *opened;
        return result;
    }

    Service& backend() {
        if (!m_pulse && Clock::now() >= m_nextServerLook) {
            m_nextServerLook = Clock::now() + kServerRetryPause;
            m_pulse = connectPulseService(nullptr, kServerTimeout);
        }
        if (m_pulse && m_pulse->deviceCount() > 0)
            return *m_pulse;
        if (!m_alsa)
            m_alsa = makeAlsaService();
        return *m_alsa;
    }

    std::mutex m_mutex;
    std::unique_ptr<Service> m_pulse;
    std::unique_ptr<Service> m_alsa;
    Clock::time_point m_nextServerLook{};
    std::map<Handle, int> m_devices; // handle: device index
    std::map<std::pair<Service*, Handle>, Handle> m_opened;
    Handle m_nextHandle = 1;
};

std::atomic<Service*> g_override{nullptr};

} // namespace

Service& service() {
    if (Service* replacement = g_override.load())
        return *replacement;
    static FollowingService following;
    return following;
}

ScopedService::ScopedService(Service& replacement)
    : m_previous(g_override.exchange(&replacement)) {}

ScopedService::~ScopedService() {
    g_override.store(m_previous);
}

} // namespace mixer
