#pragma once

// Inside the audio layer only: lets the engine hear of a wave-line change at once, so that a
// change is applied to the playing stream without waiting for the next block.
namespace waveline::detail {

using ChangeListener = void (*)();
// Any thread. Replaces the listener; nullptr removes it.
void setChangeListener(ChangeListener listener);

} // namespace waveline::detail
