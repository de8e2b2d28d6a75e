#pragma once

#include "platform/audio/Output.h"

#include <cstddef>
#include <cstdint>

// The short fades with which an output starts and ends a run of sound instead of cutting the
// waveform (a cut is heard as a click). Pure functions on 16-bit interleaved samples.
namespace audio::fade {

// Long enough that no step between two samples is heard, short enough to add little to the
// time a pause takes to be heard.
constexpr int kFadeMs = 4;

long long fadeFrames(const PcmFormat& format);

// The gain (0..1) at frame `at` of a rise from silence over `length` frames: half a cosine
// period, so the gain sets off and arrives without a corner. 1 from `length` on.
double riseGain(long long at, long long length);

enum class Direction { Rise, Fall };
// Scales `bytes` of whole frames as part of a fade over `length` frames, whose frame `at` is
// the first of `data`: a rise leaves what follows it alone, a fall silences what follows it.
void apply(std::uint8_t* data, std::size_t bytes, const PcmFormat& format, long long at,
           long long length, Direction direction);

} // namespace audio::fade
