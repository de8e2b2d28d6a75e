#pragma once

#include <cstdint>
#include <optional>

// The process's wave-out line: one playback volume and one mute switch that the audio engine
// applies to everything this process plays (a per-application volume, as the mixer's wave-out
// line was). The values live for the whole process; a value set while nothing plays holds for
// the next song, and a change made while a song plays is heard within about 100 ms.
//
// Every function may be called from any thread at any time; none blocks for long and none fails.
namespace waveline {

inline constexpr std::uint16_t kMaxVolume = 65535;

// Raw volume 0 (silent) .. kMaxVolume (unchanged signal). Starts at kMaxVolume.
std::uint16_t volume();
void setVolume(std::uint16_t value);

// Mute silences the line without changing its volume. Starts false.
bool muted();
void setMuted(bool value);

// While a song plays through the sound server, the line is that stream's own volume and mute
// there, which the desktop's mixer (its volume panel, pactl) may change at any time. The output
// that owns the stream says what it put there; whoever reads the stream back (the mixer's
// watcher when the server reports a change, the output when it lets the stream go) hands in
// what it found, and the line takes that as its value without applying it again: the next song
// starts from it.
struct ServerStream {
    std::uint32_t client = 0; // the server's index of the connection that plays the stream
    std::uint32_t index = 0;  // the server's index of the stream
    std::uint16_t volume = kMaxVolume;
    bool muted = false;
};

// The stream to read back and what it holds as far as the line knows, with a ticket for
// streamFound(). None while no stream plays the line, or while the line has a change that has
// not reached the stream yet: the line's own values are then the real ones.
struct StreamReading {
    ServerStream stream;
    std::uint64_t ticket = 0;
};
std::optional<StreamReading> beginStreamRead();

// The stream of `reading` was found holding `volume` and `muted`: they become the line's values,
// unless the line or its stream changed since beginStreamRead() (the finding is stale then).
// Nothing is applied to the stream, and the engine is not told: the stream already plays them.
void streamFound(const StreamReading& reading, std::uint16_t volume, bool muted);

} // namespace waveline
