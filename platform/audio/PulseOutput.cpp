#include "platform/audio/PulseOutput.h"
#include "platform/audio/WaveLineHook.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace audio {
namespace {

using namespace std::chrono_literals;

pa_volume_t toServer(std::uint16_t volume) {
    return pa_sw_volume_from_linear(volume / double(waveline::kMaxVolume));
}

// The line's value for a stream found at `found`, whose line value was last `known`. Converting
// rounds, so the value that the line put there reads back as `known` itself; anything else was
// set elsewhere and reads as its nearest line value (a stream raised above the server's norm
// counts as full).
std::uint16_t fromServer(pa_volume_t found, std::uint16_t known) {
    if (found == toServer(known))
        return known;
    const double linear = std::min(pa_sw_volume_to_linear(found), 1.0);
    return static_cast<std::uint16_t>(std::lround(linear * waveline::kMaxVolume));
}

pa_cvolume toCvolume(std::uint16_t volume, int channels) {
    pa_cvolume cv;
    pa_cvolume_set(&cv, static_cast<unsigned>(channels), toServer(volume));
    return cv;
}

void signalConnection(pa_stream*, void* connection) {
    static_cast<PulseConnection*>(connection)->signal();
}

} // namespace

PulseOutput::PulseOutput()
    : m_server("", "Quiva", std::chrono::milliseconds(kConnectTimeoutMs),
               std::chrono::milliseconds(kOperationTimeoutMs)) {}

PulseOutput::~PulseOutput() {
    std::lock_guard lock(m_server);
    closeStream(false);
    if (m_server.context())
        pa_context_set_subscribe_callback(m_server.context(), nullptr, nullptr);
}

bool PulseOutput::streamGood() const {
    return m_server.connected() && m_stream && pa_stream_get_state(m_stream) == PA_STREAM_READY;
}

bool PulseOutput::open(const PcmFormat& format, int bufferMs) {
    close();
    std::lock_guard lock(m_server);
    m_format = format;
    if (m_server.connect() && connectStream(bufferMs))
        return true;
    closeStream(false);
    return false;
}

bool PulseOutput::connectStream(int bufferMs) {
    const pa_sample_spec sampleFormat{PA_SAMPLE_S16NE, static_cast<std::uint32_t>(m_format.rateHz),
                                      static_cast<std::uint8_t>(m_format.channels)};
    m_stream = pa_stream_new(m_server.context(), "Quiva", &sampleFormat, nullptr);
    if (!m_stream)
        return false;
    pa_stream_set_state_callback(m_stream, signalConnection, &m_server);
    pa_stream_set_write_callback(
        m_stream, [](pa_stream* s, std::size_t, void* data) { signalConnection(s, data); },
        &m_server);
    const auto bufferBytes = static_cast<std::uint32_t>(
        pa_usec_to_bytes(static_cast<pa_usec_t>(bufferMs) * PA_USEC_PER_MSEC, &sampleFormat));
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = bufferBytes;
    attr.prebuf = static_cast<std::uint32_t>(-1);
    // Ask for more only when a quarter has played: few wake-ups per second.
    attr.minreq = bufferBytes / 4;
    attr.fragsize = static_cast<std::uint32_t>(-1);
    // A short buffer is asked for when someone listens closely (tests): let the server follow
    // it with small blocks. A long one leaves the server's own timing alone.
    // The server's timing, interpolated between its reports, tells what is heard.
    int flags =
        PA_STREAM_INTERPOLATE_TIMING | (m_muted ? PA_STREAM_START_MUTED : PA_STREAM_START_UNMUTED);
    if (bufferMs < 200)
        flags |= PA_STREAM_ADJUST_LATENCY;
    const pa_cvolume volume = toCvolume(m_volume, m_format.channels);
    if (pa_stream_connect_playback(m_stream, nullptr, &attr, static_cast<pa_stream_flags_t>(flags),
                                   &volume, nullptr) < 0)
        return false;
    m_server.waitUntil([this] { return pa_stream_get_state(m_stream) != PA_STREAM_CREATING; },
                       PulseConnection::Wait::Connect);
    if (!streamGood())
        return false;
    // Told of every change of a stream, the output reads its own when the desktop's mixer moved it.
    pa_context_set_subscribe_callback(
        m_server.context(),
        [](pa_context*, pa_subscription_event_type_t event, std::uint32_t index, void* data) {
            auto* self = static_cast<PulseOutput*>(data);
            if ((event & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_CHANGE &&
                self->m_stream && index == pa_stream_get_index(self->m_stream))
                self->readStream(false);
        },
        this);
    if (auto* subscribing = pa_context_subscribe(m_server.context(),
                                                 PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr, nullptr))
        pa_operation_unref(subscribing);
    return true;
}

long PulseOutput::write(const std::uint8_t* data, std::size_t bytes) {
    std::lock_guard lock(m_server);
    const auto frameBytes = static_cast<std::size_t>(m_format.bytesPerFrame());
    std::size_t room = 0;
    m_server.waitUntil(
        [&] { return !streamGood() || (room = pa_stream_writable_size(m_stream)) >= frameBytes; },
        PulseConnection::Wait::UntilInterrupted);
    if (!streamGood() || room == static_cast<std::size_t>(-1))
        return -1;
    if (room < frameBytes)
        return 0;
    const std::size_t taken = std::min(room, bytes) / frameBytes * frameBytes;
    if (pa_stream_write(m_stream, data, taken, nullptr, 0, PA_SEEK_RELATIVE) < 0)
        return -1;
    return static_cast<long>(taken);
}

void PulseOutput::drop() {
    std::lock_guard lock(m_server);
    if (streamGood())
        m_server.run(pa_stream_flush(m_stream, nullptr, nullptr));
}

Output::DrainResult PulseOutput::drain() {
    std::lock_guard lock(m_server);
    // The request itself ends the server's wait for its start threshold, even if we stop
    // waiting for its answer.
    if (streamGood() && m_server.run(pa_stream_drain(m_stream, nullptr, nullptr),
                                     PulseConnection::Wait::UntilInterrupted))
        return DrainResult::Drained;
    return streamGood() ? DrainResult::Interrupted : DrainResult::Broken;
}

void PulseOutput::pause(bool paused) {
    std::lock_guard lock(m_server);
    if (streamGood())
        m_server.run(pa_stream_cork(m_stream, paused ? 1 : 0, nullptr, nullptr));
}

long long PulseOutput::delayFrames() {
    std::lock_guard lock(m_server);
    if (!streamGood())
        return 0;
    pa_usec_t latencyUs = 0;
    int negative = 0;
    // A new stream or a flush leaves the timing unknown until the server reports it: wait for
    // that. Else a fresh report now and then keeps the interpolation true, far fewer than
    // libpulse's automatic ones, which would wake the server and this process many times a
    // second.
    const auto now = std::chrono::steady_clock::now();
    if (pa_stream_get_latency(m_stream, &latencyUs, &negative) < 0) {
        m_timingAsked = now;
        if (!m_server.run(pa_stream_update_timing_info(m_stream, nullptr, nullptr)) ||
            pa_stream_get_latency(m_stream, &latencyUs, &negative) < 0)
            return 0;
    } else if (now - m_timingAsked >= kTimingInterval) {
        m_timingAsked = now;
        if (auto* asking = pa_stream_update_timing_info(m_stream, nullptr, nullptr))
            pa_operation_unref(asking);
    }
    if (negative)
        return 0;
    return static_cast<long long>(latencyUs * static_cast<pa_usec_t>(m_format.rateHz) /
                                  PA_USEC_PER_SEC);
}

void PulseOutput::close() {
    std::lock_guard lock(m_server);
    closeStream(true);
}

// The desktop's mixer may have changed the stream just now, before the server told of it:
// read at the end, the line learns where the user left it, so the next song starts there.
void PulseOutput::closeStream(bool readBack) {
    if (!m_stream)
        return;
    if (readBack && streamGood())
        readStream(true);
    pa_stream_set_state_callback(m_stream, nullptr, nullptr);
    pa_stream_set_write_callback(m_stream, nullptr, nullptr);
    pa_stream_disconnect(m_stream);
    pa_stream_unref(m_stream);
    m_stream = nullptr;
}

bool PulseOutput::setVolume(std::uint16_t volume, bool muted) {
    std::lock_guard lock(m_server);
    m_volume = volume;
    m_muted = muted;
    applyVolume();
    return true;
}

void PulseOutput::applyVolume() {
    if (!streamGood())
        return;
    const std::uint32_t index = pa_stream_get_index(m_stream);
    const pa_cvolume volume = toCvolume(m_volume, m_format.channels);
    m_applying = true;
    if (m_server.run(pa_context_set_sink_input_volume(m_server.context(), index, &volume, nullptr,
                                                      nullptr)) &&
        streamGood())
        m_server.run(
            pa_context_set_sink_input_mute(m_server.context(), index, m_muted, nullptr, nullptr));
    m_applying = false;
}

// Asks the server what the stream holds; `wait`: for the answer (else it comes on the loop's
// thread).
void PulseOutput::readStream(bool wait) {
    auto onInfo = [](pa_context*, const pa_sink_input_info* info, int eol, void* data) {
        auto* self = static_cast<PulseOutput*>(data);
        // An answer about a stream closed since, or one that may predate a change: passed over.
        if (eol == 0 && info && self->m_stream &&
            info->index == pa_stream_get_index(self->m_stream) && !self->m_applying)
            self->takeFound(pa_cvolume_max(&info->volume), info->mute != 0);
    };
    pa_operation* reading = pa_context_get_sink_input_info(
        m_server.context(), pa_stream_get_index(m_stream), onInfo, this);
    if (wait)
        m_server.run(reading);
    else if (reading)
        pa_operation_unref(reading);
}

void PulseOutput::takeFound(std::uint32_t serverVolume, bool muted) {
    const std::uint16_t volume = fromServer(serverVolume, m_volume);
    if (waveline::detail::adopt(m_volume, m_muted, volume, muted)) {
        m_volume = volume;
        m_muted = muted;
    }
}

void PulseOutput::interrupt() {
    m_server.interrupt();
}

} // namespace audio
