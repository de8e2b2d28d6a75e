#pragma once

#include "platform/audio/WaveLine.h"

// Inside the audio layer only: lets the engine hear of a wave-line change at once, so that a
// change is applied to the playing stream without waiting for the next block; and lets the
// output that plays the line on the sound server hand back what the desktop's mixer made of it.
namespace waveline::detail {

using ChangeListener = void (*)();
// Any thread. Replaces the listener; nullptr removes it.
void setChangeListener(ChangeListener listener);

// The output that plays the line on the sound server found its stream holding `volume` and
// `muted` where it had put `putVolume` and `putMuted`: the line takes them, without telling the
// listener (the stream plays them already), unless the line changed since it held the values
// put there (that change is on its way to the stream, and wins). True when taken.
bool adopt(std::uint16_t putVolume, bool putMuted, std::uint16_t volume, bool muted);

} // namespace waveline::detail
