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

void Recent::restart(const PcmFormat& format, std::size_t limitBytes, bool rise) {
    m_format = format;
    m_limit = limitBytes;
    m_kept.clear();
    m_risen = rise ? 0 : fadeFrames(format);
}

void Recent::emptied() {
    m_kept.clear();
    m_risen = 0;
}

std::vector<std::uint8_t> Recent::rise(const std::uint8_t* data, std::size_t bytes) {
    const auto frameBytes = static_cast<std::size_t>(m_format.bytesPerFrame());
    const long long length = fadeFrames(m_format);
    const std::size_t riseBytes =
        std::min(bytes, static_cast<std::size_t>(std::max(length - m_risen, 0LL)) * frameBytes);
    std::vector<std::uint8_t> risen(data, data + riseBytes);
    apply(risen.data(), risen.size(), m_format, m_risen, length, Direction::Rise);
    m_risen += static_cast<long long>(riseBytes / frameBytes);
    return risen;
}

void Recent::keep(const std::uint8_t* data, std::size_t bytes) {
    m_kept.insert(m_kept.end(), data, data + bytes);
    if (m_kept.size() > 2 * m_limit)
        m_kept.erase(m_kept.begin(), m_kept.end() - static_cast<std::ptrdiff_t>(m_limit));
}

std::vector<std::uint8_t> Recent::fall(std::size_t bytes, std::vector<std::uint8_t>* rest) {
    const std::size_t from = m_kept.size() - std::min(bytes, m_kept.size());
    const auto fallBytes =
        static_cast<std::size_t>(fadeFrames(m_format) * m_format.bytesPerFrame());
    const std::size_t fallEnd = std::min(m_kept.size(), from + fallBytes);
    rest->assign(m_kept.begin() + static_cast<std::ptrdiff_t>(fallEnd), m_kept.end());
    std::vector<std::uint8_t> fall(m_kept.begin() + static_cast<std::ptrdiff_t>(from),
                                   m_kept.end());
    m_kept.resize(from);
    apply(fall.data(), fall.size(), m_format, 0, fadeFrames(m_format), Direction::Fall);
    return fall;
}

} // namespace audio::fade
