#pragma once

#include "platform/mixer/Mixer.h"

#include <array>
#include <cstdint>

// The volume control's bridge to the mixer: it opens one mixer device, looks up the volume and
// the mute control of seven lines once, keeps them in a table of 21 slots, and afterwards reads
// and writes single values by slot. Volumes cross this module on a 0..100 scale, mutes as
// 16-bit booleans (True = -1).
//
// Slots 0..6 hold the volume controls of lines 0..6 (the ControlDevices values: master, line in,
// microphone, synthesizer, CD, wave out, auxiliary), slots 7..13 their mute controls; slots
// 14..20 are never filled and stay zero.
//
// Thread rule: the module's state (the open handle and the table) belongs to the calling
// thread; every instance of the control on one thread shares it, and other threads have their
// own. Every call is synchronous. Failures of the mixer are not reported as errors (reads yield
// 0, writes return False); only a slot outside 0..20 and an arithmetic overflow are, through
// the `error` of the result.
namespace Module1 {

using Boolean = std::int16_t;
inline constexpr Boolean True = -1;
inline constexpr Boolean False = 0;

inline constexpr int kSlotCount = 21;
inline constexpr int kMuteSlotOffset = 7;

// What the module keeps of a mixer control record: the identifier used in value requests and
// the bounds used for scaling. A slot that was never filled holds zeros.
struct MixerControl {
    std::uint32_t cbStruct = 0;
    std::uint32_t dwControlID = 0;
    std::uint32_t dwControlType = 0;
    std::int32_t lMinimum = 0;
    std::int32_t lMaximum = 0;
};

enum class Error {
    None,
    SlotOutOfRange, // a slot index outside 0..20; no mixer request was made
    Overflow,       // the scaled value does not fit 32 bits; nothing was written
};

template <typename T> struct [[nodiscard]] Result {
    T value{};
    Error error = Error::None;
    bool ok() const { return error == Error::None; }
};

// Opens mixer device `deviceIndex` and fills slots 0..13 (a line or control the device lacks
// leaves its slot as it was). True when open. An index outside 0..count-1 or a failed open:
// False, nothing changed. While this thread already has the device open, another open of the
// same index only counts one more user and returns True; an open of another index is False.
Boolean OpenMixer(std::int32_t deviceIndex);

// Gives back one user's open. The last one closes the device and sets the handle to 0; the
// result is then that of the mixer's close (kInvalidHandle when nothing was open), else 0.
// The table is kept.
std::int32_t CloseMixer();

// Looks up the control of `controlType` on the line of `componentType` and, when found, copies
// it into `record` (True). A missing line leaves `record` untouched; a missing control only
// sets its cbStruct. False in both cases.
Boolean FindLineControl(mixer::Handle hMixer, std::uint32_t componentType,
                        std::uint32_t controlType, MixerControl& record);

// Writes `value` (0..100 scale when the control's maximum is above 100, else raw), clamped to
// the control's bounds, the lower bound last. True when the mixer took it.
Result<Boolean> SetControlValue(mixer::Handle hMixer, const MixerControl& record,
                                std::int32_t value);

// Reads the control: raw when its maximum is at most 100, else raw * 100 / maximum - minimum,
// halves to even. A failed read counts as raw 0.
Result<std::int32_t> GetControlValue(mixer::Handle hMixer, const MixerControl& record);

Result<std::int16_t> SetVolume(std::int32_t slot, std::int32_t value);
Result<std::int32_t> GetVolume(std::int32_t slot);
// Sends 1 for any true boolean (its absolute value), 0 for False.
Result<std::int16_t> SetMute(std::int32_t slot, Boolean value);
// True for any non-zero value.
Result<Boolean> GetMute(std::int32_t slot);

// The calling thread's state, for inspection.
mixer::Handle hMixer();
const std::array<MixerControl, kSlotCount>& MixerControls();

} // namespace Module1
