#pragma once

#include <cstdint>

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
// there, which the desktop's mixer (its volume panel, pactl) may change at any time: the output
// hands what it finds there to the line, so reading the line never waits for the server.

} // namespace waveline
