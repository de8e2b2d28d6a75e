#pragma once

#include "platform/audio/WaveLine.h"

#include <pulse/volume.h>

#include <algorithm>
#include <cmath>

// The wave line's linear scale against the sound server's (cubic) volumes: for the output that
// puts the line on its stream, and for whoever reads the stream back. Pulse backends only.
namespace waveline::pulse {

inline pa_volume_t toServer(std::uint16_t volume) {
    return pa_sw_volume_from_linear(volume / double(kMaxVolume));
}

// The line's value for a stream found at `found`, whose line value was last `known`. Converting
// rounds, so the value that the line put there reads back as `known` itself; anything else was
// set elsewhere and reads as its nearest line value (a stream raised above the server's norm
// counts as full).
inline std::uint16_t fromServer(pa_volume_t found, std::uint16_t known) {
    if (found == toServer(known))
        return known;
    const double linear = std::min(pa_sw_volume_to_linear(found), 1.0);
    return static_cast<std::uint16_t>(std::lround(linear * kMaxVolume));
}

} // namespace waveline::pulse
