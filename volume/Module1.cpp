#include "volume/Module1.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace Module1 {
namespace {

using mixer::ComponentType;
using mixer::ControlType;

constexpr std::uint32_t kRecordBytes = 152;

struct LineSlot {
    ComponentType line;
    int volumeSlot;
};

// The lookup order of the table fill; each line's mute slot is its volume slot + 7.
constexpr LineSlot kLookupOrder[] = {
    {ComponentType::Speakers, 0},    {ComponentType::Microphone, 2},  {ComponentType::Auxiliary, 6},
    {ComponentType::CompactDisc, 4}, {ComponentType::Synthesizer, 3}, {ComponentType::WaveOut, 5},
    {ComponentType::LineIn, 1},
};

struct ThreadState {
    mixer::Handle handle = 0;
    std::array<MixerControl, kSlotCount> controls{};
    int users = 0;
    std::int32_t deviceIndex = 0;
};

thread_local ThreadState t_state;

Boolean toBoolean(bool value) {
    return value ? True : False;
}

bool validSlot(std::int32_t slot) {
    return slot >= 0 && slot < kSlotCount;
}

MixerControl& slotRecord(std::int32_t slot) {
    return t_state.controls[static_cast<std::size_t>(slot)];
}

void fillTable(mixer::Handle handle) {
    for (ControlType type : {ControlType::Volume, ControlType::Mute}) {
        const int offset = type == ControlType::Mute ? kMuteSlotOffset : 0;
        for (const LineSlot& entry : kLookupOrder)
            (void)FindLineControl(handle, static_cast<std::uint32_t>(entry.line),
                                  static_cast<std::uint32_t>(type),
                                  slotRecord(entry.volumeSlot + offset));
    }
}

} // namespace

Boolean OpenMixer(std::int32_t deviceIndex) {
    const int count = mixer::service().deviceCount();
    if (deviceIndex > count - 1 || deviceIndex < 0)
        return False;
    if (t_state.users > 0) {
        if (deviceIndex != t_state.deviceIndex)
            return False;
        ++t_state.users;
        return True;
    }
    mixer::Handle handle = 0;
    if (mixer::service().open(deviceIndex, &handle) != mixer::kNoError)
        return False;
    t_state.handle = handle;
    t_state.users = 1;
    t_state.deviceIndex = deviceIndex;
    fillTable(handle);
    return True;
}

std::int32_t CloseMixer() {
    if (t_state.users > 1) {
        --t_state.users;
        return static_cast<std::int32_t>(mixer::kNoError);
    }
    const mixer::Result result = mixer::service().close(t_state.handle);
    t_state.handle = 0;
    t_state.users = 0;
    return static_cast<std::int32_t>(result);
}

Boolean FindLineControl(mixer::Handle hMixer, std::uint32_t componentType,
                        std::uint32_t controlType, MixerControl& record) {
    mixer::Service& service = mixer::service();
    std::uint32_t lineId = 0;
    if (service.findLine(hMixer, static_cast<ComponentType>(componentType), &lineId) !=
        mixer::kNoError)
        return False;
    record.cbStruct = kRecordBytes;
    mixer::ControlInfo info;
    if (service.findControl(hMixer, lineId, static_cast<ControlType>(controlType), &info) !=
        mixer::kNoError)
        return False;
    record.dwControlID = info.controlId;
    record.dwControlType = static_cast<std::uint32_t>(info.type);
    record.lMinimum = info.minimum;
    record.lMaximum = info.maximum;
    return True;
}

Result<Boolean> SetControlValue(mixer::Handle hMixer, const MixerControl& record,
                                std::int32_t value) {
    std::int32_t raw = value;
    if (record.lMaximum > 100 && __builtin_mul_overflow(value, record.lMaximum / 100, &raw))
        return {False, Error::Overflow};
    if (raw > record.lMaximum)
        raw = record.lMaximum;
    if (raw < record.lMinimum)
        raw = record.lMinimum;
    const bool written =
        mixer::service().setValue(hMixer, record.dwControlID, raw) == mixer::kNoError;
    return {toBoolean(written)};
}

Result<std::int32_t> GetControlValue(mixer::Handle hMixer, const MixerControl& record) {
    std::int32_t raw = 0;
    if (mixer::service().getValue(hMixer, record.dwControlID, &raw) != mixer::kNoError)
        raw = 0;
    if (record.lMaximum <= 100)
        return {raw};
    std::int32_t hundredfold = 0;
    if (__builtin_mul_overflow(raw, 100, &hundredfold))
        return {0, Error::Overflow};
    // nearbyint rounds in the default mode, to nearest with halves to even.
    const double scaled =
        std::nearbyint(static_cast<double>(hundredfold) / record.lMaximum - record.lMinimum);
    if (scaled < std::numeric_limits<std::int32_t>::min() ||
        scaled > std::numeric_limits<std::int32_t>::max())
        return {0, Error::Overflow};
    return {static_cast<std::int32_t>(scaled)};
}

Result<std::int16_t> SetVolume(std::int32_t slot, std::int32_t value) {
    if (!validSlot(slot))
        return {False, Error::SlotOutOfRange};
    return SetControlValue(t_state.handle, slotRecord(slot), value);
}

Result<std::int32_t> GetVolume(std::int32_t slot) {
    if (!validSlot(slot))
        return {0, Error::SlotOutOfRange};
    return GetControlValue(t_state.handle, slotRecord(slot));
}

Result<std::int16_t> SetMute(std::int32_t slot, Boolean value) {
    if (!validSlot(slot))
        return {False, Error::SlotOutOfRange};
    return SetControlValue(t_state.handle, slotRecord(slot),
                           std::abs(static_cast<std::int32_t>(value)));
}

Result<Boolean> GetMute(std::int32_t slot) {
    if (!validSlot(slot))
        return {False, Error::SlotOutOfRange};
    const Result<std::int32_t> raw = GetControlValue(t_state.handle, slotRecord(slot));
    return {toBoolean(raw.value != 0), raw.error};
}

mixer::Handle hMixer() {
    return t_state.handle;
}

const std::array<MixerControl, kSlotCount>& MixerControls() {
    return t_state.controls;
}

} // namespace Module1
