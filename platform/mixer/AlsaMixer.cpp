#include "platform/mixer/Backends.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Sound cards through ALSA's simple mixer: each card (or each control device named by the
// caller) is a device and each line one named element. Line identifiers are 1 + the line's place in
// kLines; a line's volume control is 2 * line - 1 and its mute control 2 * line.
namespace mixer {
namespace {

struct LineName {
    ComponentType type;
    const char* element;
};

constexpr std::array<LineName, 7> kLines{{
    {ComponentType::Speakers, "Master"},
    {ComponentType::LineIn, "Line"},
    {ComponentType::Microphone, "Mic"},
    {ComponentType::Synthesizer, "Synth"},
    {ComponentType::CompactDisc, "CD"},
    {ComponentType::WaveOut, "PCM"},
    {ComponentType::Auxiliary, "Aux"},
}};

std::uint32_t volumeControlId(std::uint32_t line) {
    return 2 * line - 1;
}
std::uint32_t muteControlId(std::uint32_t line) {
    return 2 * line;
}
std::uint32_t lineOfControl(std::uint32_t controlId) {
    return (controlId + 1) / 2;
}
bool isMuteControl(std::uint32_t controlId) {
    return controlId % 2 == 0;
}

using DeviceList = std::function<std::vector<std::string>()>;

// The control devices of the cards present now ("hw:0", "hw:1"...).
std::vector<std::string> cardDevices() {
    std::vector<std::string> devices;
    int card = -1;
    while (snd_card_next(&card) == 0 && card >= 0)
        devices.push_back("hw:" + std::to_string(card));
    return devices;
}

struct OpenMixer {
    snd_mixer_t* mixer = nullptr;
    std::map<std::uint32_t, snd_mixer_elem_t*> lines; // found lines by identifier
};

snd_mixer_t* openMixer(const std::string& device) {
    snd_mixer_t* mixer = nullptr;
    if (snd_mixer_open(&mixer, 0) < 0)
        return nullptr;
    if (snd_mixer_attach(mixer, device.c_str()) < 0 ||
        snd_mixer_selem_register(mixer, nullptr, nullptr) < 0 || snd_mixer_load(mixer) < 0) {
        snd_mixer_close(mixer);
        return nullptr;
    }
    return mixer;
}

long loudestChannel(snd_mixer_elem_t* element) {
    long loudest = 0;
    bool any = false;
    for (int channel = 0; channel <= SND_MIXER_SCHN_LAST; ++channel) {
        auto id = static_cast<snd_mixer_selem_channel_id_t>(channel);
        long value = 0;
        if (snd_mixer_selem_has_playback_channel(element, id) &&
            snd_mixer_selem_get_playback_volume(element, id, &value) == 0) {
            loudest = any ? std::max(loudest, value) : value;
            any = true;
        }
    }
    return loudest;
}

class AlsaService final : public Service {
public:
    explicit AlsaService(DeviceList devices) : m_devices(std::move(devices)) {}
    ~AlsaService() override {
        for (auto& [handle, open] : m_open)
            snd_mixer_close(open.mixer);
    }

    int deviceCount() override {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(m_devices().size());
    }

    Result open(int index, Handle* handle) override {
        std::lock_guard lock(m_mutex);
        const auto devices = m_devices();
        if (index < 0 || index >= static_cast<int>(devices.size()))
            return kBadDeviceId;
        snd_mixer_t* mixer = openMixer(devices[static_cast<std::size_t>(index)]);
        if (!mixer)
            return kError;
        *handle = m_nextHandle++;
        m_open[*handle].mixer = mixer;
        return kNoError;
    }

    Result findLine(Handle handle, ComponentType type, std::uint32_t* lineId) override {
        std::lock_guard lock(m_mutex);
        auto open = m_open.find(handle);
        if (open == m_open.end())
            return kInvalidHandle;
        auto line = std::find_if(kLines.begin(), kLines.end(),
                                 [type](const LineName& l) { return l.type == type; });
        if (line == kLines.end())
            return kInvalidLine;
        snd_mixer_selem_id_t* id = nullptr;
        snd_mixer_selem_id_alloca(&id);
        snd_mixer_selem_id_set_name(id, line->element);
        snd_mixer_elem_t* element = snd_mixer_find_selem(open->second.mixer, id);
        if (!element)
            return kInvalidLine;
        *lineId = static_cast<std::uint32_t>(line - kLines.begin()) + 1;
        open->second.lines[*lineId] = element;
        return kNoError;
    }

    Result findControl(Handle handle, std::uint32_t lineId, ControlType type,
                       ControlInfo* info) override {
        std::lock_guard lock(m_mutex);
        auto open = m_open.find(handle);
        if (open == m_open.end())
            return kInvalidHandle;
        auto line = open->second.lines.find(lineId);
        if (line == open->second.lines.end())
            return kInvalidControl;
        snd_mixer_elem_t* element = line->second;
        if (type != ControlType::Volume && type != ControlType::Mute)
            return kInvalidControl;
        ControlInfo found;
        found.type = type;
        if (type == ControlType::Volume) {
            long minimum = 0;
            long maximum = 0;
            if (!snd_mixer_selem_has_playback_volume(element) ||
                snd_mixer_selem_get_playback_volume_range(element, &minimum, &maximum) < 0)
                return kInvalidControl;
            found.controlId = volumeControlId(lineId);
            found.minimum = static_cast<std::int32_t>(minimum);
            found.maximum = static_cast<std::int32_t>(maximum);
        } else {
            if (!snd_mixer_selem_has_playback_switch(element))
                return kInvalidControl;
            found.controlId = muteControlId(lineId);
            found.maximum = 1;
        }
        *info = found;
        return kNoError;
    }

    Result getValue(Handle handle, std::uint32_t controlId, std::int32_t* value) override {
        std::lock_guard lock(m_mutex);
        snd_mixer_elem_t* element = nullptr;
        if (Result result = elementOf(handle, controlId, &element); result != kNoError)
            return result;
        snd_mixer_handle_events(m_open[handle].mixer); // take in changes made elsewhere
        if (isMuteControl(controlId)) {
            int on = 1;
            if (snd_mixer_selem_get_playback_switch(element, SND_MIXER_SCHN_FRONT_LEFT, &on) < 0)
                return kError;
            *value = on ? 0 : 1;
        } else {
            *value = static_cast<std::int32_t>(loudestChannel(element));
        }
        return kNoError;
    }

    Result setValue(Handle handle, std::uint32_t controlId, std::int32_t value) override {
        std::lock_guard lock(m_mutex);
        snd_mixer_elem_t* element = nullptr;
        if (Result result = elementOf(handle, controlId, &element); result != kNoError)
            return result;
        int status = 0;
        if (isMuteControl(controlId)) {
            status = snd_mixer_selem_set_playback_switch_all(element, value == 0 ? 1 : 0);
        } else {
            long minimum = 0;
            long maximum = 0;
            snd_mixer_selem_get_playback_volume_range(element, &minimum, &maximum);
            status = snd_mixer_selem_set_playback_volume_all(
                element, std::clamp<long>(value, minimum, maximum));
        }
        return status < 0 ? kError : kNoError;
    }

    Result close(Handle handle) override {
        std::lock_guard lock(m_mutex);
        auto open = m_open.find(handle);
        if (open == m_open.end())
            return kInvalidHandle;
        snd_mixer_close(open->second.mixer);
        m_open.erase(open);
        return kNoError;
    }

private:
    // Called with the mutex held. Only controls that findControl handed out are known.
    Result elementOf(Handle handle, std::uint32_t controlId, snd_mixer_elem_t** element) {
        auto open = m_open.find(handle);
        if (open == m_open.end())
            return kInvalidHandle;
        auto line = open->second.lines.find(lineOfControl(controlId));
        if (controlId == 0 || line == open->second.lines.end())
            return kInvalidControl;
        const bool mute = isMuteControl(controlId);
        if (mute ? !snd_mixer_selem_has_playback_switch(line->second)
                 : !snd_mixer_selem_has_playback_volume(line->second))
            return kInvalidControl;
        *element = line->second;
        return kNoError;
    }

    const DeviceList m_devices;
    std::mutex m_mutex;
    std::map<Handle, OpenMixer> m_open;
    Handle m_nextHandle = 1;
};

} // namespace

std::unique_ptr<Service> makeAlsaService() {
    return std::make_unique<AlsaService>(&cardDevices);
}

std::unique_ptr<Service> makeAlsaService(std::vector<std::string> devices) {
    return std::make_unique<AlsaService>([devices = std::move(devices)] { return devices; });
}

} // namespace mixer
