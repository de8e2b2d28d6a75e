#include "platform/audio/PulseOutput.h"
#include "platform/audio/PulseVolume.h"
#include "platform/audio/WaveLineHook.h"

#include <pulse/pulseaudio.h>

#include <chrono>

namespace audio {
namespace {

constexpr int kNoTimeout = -1;

pa_cvolume toCvolume(std::uint16_t volume, int channels) {
    pa_cvolume cv;
    pa_cvolume_set(&cv, static_cast<unsigned>(channels), waveline::pulse::toServer(volume));
    return cv;
}

void onSuccess(pa_context*, int success, void* data) {
    *static_cast<bool*>(data) = success != 0;
}

// What a stream holds on the server, as get_sink_input_info answers.
struct StreamFound {
    pa_volume_t volume = PA_VOLUME_NORM;
    bool muted = false;
    bool found = false;
};

void onStreamInfo(pa_context*, const pa_sink_input_info* info, int eol, void* data) {
    if (eol == 0 && info) {
        auto* found = static_cast<StreamFound*>(data);
        found->volume = pa_cvolume_max(&info->volume);
        found->muted = info->mute != 0;
        found->found = true;
    }
}

} // namespace

PulseOutput::PulseOutput() : m_loop(pa_mainloop_new()) {}

PulseOutput::~PulseOutput() {
    disconnect();
    pa_mainloop_free(m_loop);
}

template <typename Done> bool PulseOutput::runUntil(Done done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        if (timeoutMs >= 0 && left.count() <= 0)
            return false;
        const int waitUs = timeoutMs < 0 ? -1 : static_cast<int>(left.count());
        if (pa_mainloop_prepare(m_loop, waitUs) < 0 || pa_mainloop_poll(m_loop) < 0 ||
            pa_mainloop_dispatch(m_loop) < 0)
            return false;
    }
    return true;
}

bool PulseOutput::connected() const {
    return m_context && pa_context_get_state(m_context) == PA_CONTEXT_READY;
}

bool PulseOutput::streamGood() const {
    return connected() && m_stream && pa_stream_get_state(m_stream) == PA_STREAM_READY;
}

bool PulseOutput::connect() {
    if (connected())
        return true;
    disconnect();
    m_context = pa_context_new(pa_mainloop_get_api(m_loop), "Quiva");
    // Never start a server of our own: no server means the next output is tried.
    if (!m_context || pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        disconnect();
        return false;
    }
    runUntil(
        [this] {
            const auto state = pa_context_get_state(m_context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        },
        kConnectTimeoutMs);
    if (!connected()) {
        disconnect();
        return false;
    }
    return true;
}

void PulseOutput::disconnect() {
    closeStream(false);
    if (m_context) {
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
}

bool PulseOutput::open(const PcmFormat& format, int bufferMs) {
    close();
    if (!connect())
        return false;
    m_format = format;
    const pa_sample_spec sampleFormat{PA_SAMPLE_S16NE, static_cast<std::uint32_t>(format.rateHz),
                                      static_cast<std::uint8_t>(format.channels)};
    m_stream = pa_stream_new(m_context, "Quiva", &sampleFormat, nullptr);
    if (!m_stream)
        return false;
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
    int flags = PA_STREAM_NOFLAGS | (m_muted ? PA_STREAM_START_MUTED : PA_STREAM_START_UNMUTED);
    if (bufferMs < 200)
        flags |= PA_STREAM_ADJUST_LATENCY;
    const pa_cvolume volume = toCvolume(m_volume, format.channels);
    if (pa_stream_connect_playback(m_stream, nullptr, &attr, static_cast<pa_stream_flags_t>(flags),
                                   &volume, nullptr) < 0) {
        close();
        return false;
    }
    const bool answered = runUntil(
        [this] {
            const auto state = pa_stream_get_state(m_stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state) || !connected();
        },
        kConnectTimeoutMs);
    if (!answered)
        disconnect(); // a hung server: see finish()
    if (!streamGood()) {
        close();
        return false;
    }
    waveline::detail::streamHolds(playing());
    return true;
}

long PulseOutput::write(const std::uint8_t* data, std::size_t bytes) {
    const auto frameBytes = static_cast<std::size_t>(m_format.bytesPerFrame());
    for (;;) {
        if (!streamGood())
            return -1;
        const std::size_t room = pa_stream_writable_size(m_stream);
        if (room == static_cast<std::size_t>(-1))
            return -1;
        if (room >= frameBytes) {
            const std::size_t taken = std::min(room, bytes) / frameBytes * frameBytes;
            if (pa_stream_write(m_stream, data, taken, nullptr, 0, PA_SEEK_RELATIVE) < 0)
                return -1;
            flushOutgoing();
            return static_cast<long>(taken);
        }
        if (m_interrupted.exchange(false))
            return 0;
        if (pa_mainloop_iterate(m_loop, 1, nullptr) < 0)
            return -1;
    }
}

void PulseOutput::flushOutgoing() {
    while (pa_mainloop_iterate(m_loop, 0, nullptr) > 0) {
    }
}

bool PulseOutput::finish(pa_operation* operation, bool interruptible) {
    if (!operation)
        return false;
    const bool done = runUntil(
        [&] {
            return pa_operation_get_state(operation) != PA_OPERATION_RUNNING || !connected() ||
                   (interruptible && m_interrupted.exchange(false));
        },
        interruptible ? kNoTimeout : kOperationTimeoutMs);
    const bool succeeded = done && pa_operation_get_state(operation) == PA_OPERATION_DONE;
    if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
        pa_operation_cancel(operation);
    pa_operation_unref(operation);
    // A server that let a request time out hangs (stopped, deadlocked) and is likely to hang
    // again: let go of it, so that the next calls fail at once and the engine moves on to the
    // next output instead of making every command wait out the same timeout.
    if (!done && !interruptible)
        disconnect();
    return succeeded;
}

void PulseOutput::drop() {
    if (streamGood())
        finish(pa_stream_flush(m_stream, nullptr, nullptr), false);
}

Output::DrainResult PulseOutput::drain() {
    // The request itself ends the server's wait for its start threshold, even if we stop
    // waiting for its answer.
    if (streamGood() && finish(pa_stream_drain(m_stream, nullptr, nullptr), true))
        return DrainResult::Drained;
    return streamGood() ? DrainResult::Interrupted : DrainResult::Broken;
}

void PulseOutput::pause(bool paused) {
    if (streamGood())
        finish(pa_stream_cork(m_stream, paused ? 1 : 0, nullptr, nullptr), false);
}

void PulseOutput::close() {
    closeStream(true);
}

// The desktop's mixer may have changed the stream since the line last read it: asked before the
// stream goes (the server answers in order), the line learns where the user left it, so that
// the next song starts there even when no one polls the line.
void PulseOutput::closeStream(bool readBack) {
    if (!m_stream)
        return;
    auto reading = readBack && streamGood() ? waveline::beginStreamRead() : std::nullopt;
    if (reading && reading->stream.index != pa_stream_get_index(m_stream))
        reading.reset();
    StreamFound found;
    pa_operation* asked = reading ? pa_context_get_sink_input_info(m_context, reading->stream.index,
                                                                   onStreamInfo, &found)
                                  : nullptr;
    pa_stream_disconnect(m_stream);
    pa_stream_unref(m_stream);
    m_stream = nullptr;
    if (asked && finish(asked, false) && found.found)
        waveline::streamFound(*reading,
                              waveline::pulse::fromServer(found.volume, reading->stream.volume),
                              found.muted);
    waveline::detail::streamGone();
    if (connected())
        flushOutgoing();
}

bool PulseOutput::setVolume(std::uint16_t volume, bool muted) {
    m_volume = volume;
    m_muted = muted;
    applyVolume();
    return true;
}

// Waits for the server to confirm, so that the line knows when the stream holds its values (a
// read of the stream before then would find the old ones).
void PulseOutput::applyVolume() {
    if (!streamGood())
        return;
    const std::uint32_t index = pa_stream_get_index(m_stream);
    const pa_cvolume volume = toCvolume(m_volume, m_format.channels);
    bool volumeSet = false;
    bool muteSet = false;
    if (finish(pa_context_set_sink_input_volume(m_context, index, &volume, onSuccess, &volumeSet),
               false) &&
        volumeSet && streamGood() &&
        finish(pa_context_set_sink_input_mute(m_context, index, m_muted, onSuccess, &muteSet),
               false) &&
        muteSet)
        waveline::detail::streamHolds(playing());
}

waveline::ServerStream PulseOutput::playing() const {
    return {pa_context_get_index(m_context), pa_stream_get_index(m_stream), m_volume, m_muted};
}

void PulseOutput::interrupt() {
    m_interrupted = true;
    pa_mainloop_wakeup(m_loop);
}

} // namespace audio
