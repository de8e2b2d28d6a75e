#pragma once

#include "platform/audio/WaveLine.h"

// Inside the audio layer only: lets the engine hear of a wave-line change at once, so that a
// change is applied to the playing stream without waiting for the next block; and lets the
// output that plays the line on the sound server say which stream that is.
namespace waveline::detail {

using ChangeListener = void (*)();
// Any thread. Replaces the listener; nullptr removes it.
void setChangeListener(ChangeListener listener);

// The output: `stream` now plays the line and holds the values given (the server confirmed
// them). Replaces any stream named before.
void streamHolds(const ServerStream& stream);
// The output: no stream plays the line on the server any more.
void streamGone();

} // namespace waveline::detail
