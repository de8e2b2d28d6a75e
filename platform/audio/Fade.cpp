#include "platform/audio/Fade.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace audio::fade {

long long fadeFrames(const PcmFormat& format) {
    return static_cast<long long>(format.rateHz) * kFadeMs / 1000;
}

double riseGain(long long at, long long length) {
    if (at >= length)
        return 1;
    if (at <= 0)
        return 0;
    return 0.5 -
           0.5 * std::cos(std::numbers::pi * static_cast<double>(at) / static_cast<double>(length));
}

void apply(std::uint8_t* data, std::size_t bytes, const PcmFormat& format, long long at,
           long long length, Direction direction) {
    auto* samples = reinterpret_cast<std::int16_t*>(data);
    const auto channels = static_cast<std::size_t>(format.channels);
    const std::size_t frames = bytes / static_cast<std::size_t>(format.bytesPerFrame());
    for (std::size_t frame = 0; frame < frames; ++frame) {
        const long long position = at + static_cast<long long>(frame);
        const double gain = direction == Direction::Rise ? riseGain(position, length)
                                                         : riseGain(length - position, length);
        for (std::size_t channel = 0; channel < channels; ++channel) {
            std::int16_t& sample = samples[frame * channels + channel];
            sample = static_cast<std::int16_t>(std::lround(sample * gain));
        }
    }
}

} // namespace audio::fade
