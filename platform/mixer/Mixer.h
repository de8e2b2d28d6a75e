#pragma once

#include <cstdint>
#include <memory>

// The audio mixer as the volume control sees it: numbered devices, each with lines found by
// their component type, each line with controls found by their type. A control has an
// identifier and bounds, and holds one 32-bit value that applies to all of its channels.
//
// Real backends:
//   - the desktop's sound server through libpulse (PulseAudio, or PipeWire's pulse server): one
//     device, whose speakers line is the default output's volume (0..65536) and mute, and whose
//     wave-out line is this program's own playback volume (0..65535, the audio engine's wave
//     line) and mute: while a song plays through the server, what its stream holds there,
//     changes made elsewhere included. It has no other lines.
//   - ALSA: one device per sound card; lines are its simple-mixer elements "Master", "Line",
//     "Mic", "Synth", "CD", "PCM" (wave out) and "Aux"; volume is the element's playback volume
//     over the element's own range, mute is its playback switch turned off.
// The process's service() follows the sound: its wave-out line is always the engine's wave line
// (on every output the engine plays through: the server's stream volume, else the samples
// scaled), so device 0 is there even with neither back end; its other lines are the sound
// server's while one answers, else ALSA's. FakeMixer.h has the in-memory mixer for tests.
//
// Results are the classic mixer error numbers (kNoError on success); nothing throws.
namespace mixer {

using Handle = std::uint32_t; // 0 is never a valid handle
using Result = std::uint32_t;

inline constexpr Result kNoError = 0;
inline constexpr Result kError = 1;             // the backend failed (server gone, timeout, ...)
inline constexpr Result kBadDeviceId = 2;       // no device with that index
inline constexpr Result kInvalidHandle = 5;     // not a handle this service opened, or closed
inline constexpr Result kInvalidLine = 1024;    // the device has no such line
inline constexpr Result kInvalidControl = 1025; // no such control on the line / device

enum class ComponentType : std::uint32_t {
    Speakers = 0x4,
    LineIn = 0x1002,
    Microphone = 0x1003,
    Synthesizer = 0x1004,
    CompactDisc = 0x1005,
    WaveOut = 0x1008,
    Auxiliary = 0x1009,
};

enum class ControlType : std::uint32_t {
    Volume = 0x50030001,
    Mute = 0x20010002, // value 0 = sound, any other value = muted
};

struct ControlInfo {
    std::uint32_t controlId = 0; // never 0 for a control a service returns
    ControlType type = ControlType::Volume;
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
};

// One mixer technology. Every function may be called from any thread; a handle may be used from
// any thread, too (each backend serialises its own work). No call blocks for long: a backend
// that talks to another process gives up after its timeout and returns kError.
class Service {
public:
    virtual ~Service() = default;

    // How many devices there are now; 0 when none (never negative).
    virtual int deviceCount() = 0;

    // Opens device `index`. On kNoError `*handle` holds a new non-zero handle that stays valid
    // until close(); on failure `*handle` is left as it was. Out of range: kBadDeviceId.
    virtual Result open(int index, Handle* handle) = 0;

    // The line of the given component type: on kNoError `*lineId` identifies it on this handle.
    // A line the device lacks: kInvalidLine.
    virtual Result findLine(Handle handle, ComponentType type, std::uint32_t* lineId) = 0;

    // The line's control of the given type, with its identifier and bounds. A control the line
    // lacks (or an unknown line): kInvalidControl. `*info` is written only on success.
    virtual Result findControl(Handle handle, std::uint32_t lineId, ControlType type,
                               ControlInfo* info) = 0;

    // The control's current value, read afresh (changes made elsewhere are seen). A volume
    // reads as the loudest channel; a mute as 0 or 1. `*value` is written only on success.
    virtual Result getValue(Handle handle, std::uint32_t controlId, std::int32_t* value) = 0;

    // Sets every channel of the control to `value`. The caller keeps the value within the
    // control's bounds; a backend clamps anything else. A mute takes 0 = sound, else muted.
    virtual Result setValue(Handle handle, std::uint32_t controlId, std::int32_t value) = 0;

    // Releases the handle. An unknown or already closed handle: kInvalidHandle.
    virtual Result close(Handle handle) = 0;
};

// The process's mixer service: the test override if one is installed, else the one that follows
// the sound (above). Never null. Any thread.
Service& service();

// Installs `replacement` as the process's service for the life of the guard (tests). The guard
// does not own it. Guards nest; the innermost wins. Install and remove them on one thread, while
// no other thread uses the service.
class ScopedService {
public:
    explicit ScopedService(Service& replacement);
    ~ScopedService();
    ScopedService(const ScopedService&) = delete;
    ScopedService& operator=(const ScopedService&) = delete;

private:
    Service* m_previous;
};

} // namespace mixer
