#pragma once

#include "platform/audio/Output.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The short fades with which an output starts and ends a run of sound instead of cutting the
// waveform (a cut is heard as a click): pure functions on 16-bit interleaved samples, and what
// an output keeps to apply them to what it handed over.
namespace audio::fade {

// Long enough that no step between two samples is heard, short enough to add little to the
// time a pause takes to be heard.
constexpr int kFadeMs = 4;
// How far ahead of the sample heard a fall begins: the time for the rewrite to arrive.
constexpr int kFallLeadMs = 3;
// How often an output looks again whether a fall has been heard before it cuts anyway.
constexpr int kHeardLooks = 5;

long long fadeFrames(const PcmFormat& format);

// The gain (0..1) at frame `at` of a rise from silence over `length` frames: half a cosine
// period, so the gain sets off and arrives without a corner. 1 from `length` on.
double riseGain(long long at, long long length);

enum class Direction { Rise, Fall };
// Scales `bytes` of whole frames as part of a fade over `length` frames, whose frame `at` is
// the first of `data`: a rise leaves what follows it alone, a fall silences what follows it.
void apply(std::uint8_t* data, std::size_t bytes, const PcmFormat& format, long long at,
           long long length, Direction direction);

// What an output handed its server or device lately, newest last, and where its rise stands:
// what it needs to rewrite the part not heard yet as a fall, and to fade in after a cut.
class Recent {
public:
    // A new stream of `format`, keeping at least `limitBytes`; `rise`: it starts with a rise.
    void restart(const PcmFormat& format, std::size_t limitBytes, bool rise);
    // Forgets what was kept (the output's queue was emptied); a rise is due.
    void emptied();
    bool riseDue() const { return m_risen == 0; }
    // Of `bytes` about to be handed over, the frames a rise in progress covers, faded, which
    // counts them as risen.
    std::vector<std::uint8_t> rise(const std::uint8_t* data, std::size_t bytes);
    // Notes bytes handed over.
    void keep(const std::uint8_t* data, std::size_t bytes);
    std::size_t size() const { return m_kept.size(); }
    // Takes the last `bytes` kept (at most size()) off, to be handed over again as the fall to
    // silence returned; `rest` receives what followed the fall.
    std::vector<std::uint8_t> fall(std::size_t bytes, std::vector<std::uint8_t>* rest);

private:
    PcmFormat m_format;
    std::size_t m_limit = 0;
    std::vector<std::uint8_t> m_kept; // trimmed to the limit once twice as long: rare copies
    long long m_risen = 0;            // frames of the rise handed over
};

} // namespace audio::fade
