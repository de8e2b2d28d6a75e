#include "platform/audio/PulseOutput.h"
#include "platform/audio/Fade.h"
#include "platform/audio/WaveLineHook.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

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

constexpr pa_usec_t kFallLeadUs = fade::kFallLeadMs * PA_USEC_PER_MSEC;
// Beyond the stream's own buffer, what the server may have mixed ahead of the sound card.
constexpr pa_usec_t kSinkAheadUs = 2 * PA_USEC_PER_SEC;
// Mixing further ahead than this, a server is expected to mix a rewrite in again (see fadeOut()).
constexpr pa_usec_t kFarAheadUs = 50 * PA_USEC_PER_MSEC;
// A server that cannot rewind may take this much from the stream's queue at once (PipeWire's
// pulse server takes a whole graph cycle, up to 2048 frames at 44.1 kHz, and reports it neither
// as queued nor as mixed ahead): a rewrite nearer than that may come too late.
constexpr pa_usec_t kTakenAtOnceUs = kFarAheadUs;
// A fall is heard after at most this (see fadeOut()): the longest wait before looking again.
constexpr pa_usec_t kLongestLookUs = kFarAheadUs + kFallLeadUs + fade::kFadeMs * PA_USEC_PER_MSEC;
// The most silence put before a rise (see send()).
constexpr pa_usec_t kMaxRisePadUs = 50 * PA_USEC_PER_MSEC;

pa_sample_spec sampleSpec(const PcmFormat& format) {
    return {PA_SAMPLE_S16NE, static_cast<std::uint32_t>(format.rateHz),
            static_cast<std::uint8_t>(format.channels)};
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
    m_held.clear();
    m_sentSinceFlush = 0;
    m_padBytes = 0;
    m_corked = false;
    if (m_server.connect() && connectStream(bufferMs)) {
        learnMixedAhead();
        learnRewinds();
        return true;
    }
    closeStream(false);
    return false;
}

bool PulseOutput::connectStream(int bufferMs) {
    const pa_sample_spec sampleFormat = sampleSpec(m_format);
    m_stream = pa_stream_new(m_server.context(), "Quiva", &sampleFormat, nullptr);
    if (!m_stream)
        return false;
    pa_stream_set_state_callback(m_stream, signalConnection, &m_server);
    pa_stream_set_write_callback(
        m_stream, [](pa_stream* s, std::size_t, void* data) { signalConnection(s, data); },
        &m_server);
    const auto bufferBytes = static_cast<std::uint32_t>(
        pa_usec_to_bytes(static_cast<pa_usec_t>(bufferMs) * PA_USEC_PER_MSEC, &sampleFormat));
    // A new stream is started where the server had mixed ahead, too: it rises (see send()).
    m_recent.restart(m_format, bufferBytes + pa_usec_to_bytes(kSinkAheadUs, &sampleFormat), true);
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
    // PipeWire's pulse server starts every stream at its norm whatever volume came with it: the
    // stream is set once more before any sound reaches it.
    applyVolume();
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
    if (!send(data, taken))
        return -1;
    return static_cast<long>(taken);
}

// Queues `bytes` after what the server holds, the first frames faded in when a rise is due,
// and keeps a copy of the latest for a fall. A rise that starts the stream again after a pause
// or a flush comes after a little silence: the server starts such a stream where it had already
// mixed ahead (by up to what it said last, and it may mix further ahead by then), and the
// silence, not the rise, is what that skips.
bool PulseOutput::send(const std::uint8_t* data, std::size_t bytes) {
    const pa_sample_spec samples = sampleSpec(m_format);
    const std::size_t padBytes =
        m_recent.riseDue() && bytes > 0
            ? pa_usec_to_bytes(std::min(2 * m_mixedAheadUs + kFallLeadUs, kMaxRisePadUs), &samples)
            : 0;
    std::vector<std::uint8_t> head(padBytes);
    const std::vector<std::uint8_t> risen = m_recent.rise(data, bytes);
    head.insert(head.end(), risen.begin(), risen.end());
    m_padBytes += padBytes;
    m_sentSinceFlush += head.size() + bytes - risen.size();
    m_recent.keep(head.data(), head.size());
    m_recent.keep(data + risen.size(), bytes - risen.size());
    return (head.empty() || pa_stream_write(m_stream, head.data(), head.size(), nullptr, 0,
                                            PA_SEEK_RELATIVE) >= 0) &&
           pa_stream_write(m_stream, data + risen.size(), bytes - risen.size(), nullptr, 0,
                           PA_SEEK_RELATIVE) >= 0;
}

void PulseOutput::drop() {
    std::lock_guard lock(m_server);
    if (streamGood()) {
        if (!m_corked)
            fadeOut();
        flush();
    }
    m_held.clear();
}

// Empties the server's queue; what comes next sets off with a rise.
void PulseOutput::flush() {
    m_server.run(pa_stream_flush(m_stream, nullptr, nullptr));
    m_recent.emptied();
    m_sentSinceFlush = 0;
    m_padBytes = 0;
}

// Rewrites what the server holds from just ahead of what it can still change: a fall to
// silence, and silence for the rest, which is kept for a resume. Waits until the fall has been
// heard. False when the server cannot tell what is heard, holds less than the lead or more than
// was kept, or refuses the rewrite.
bool PulseOutput::fadeOut() {
    const pa_sample_spec samples = sampleSpec(m_format);
    const std::optional<pa_usec_t> latency = unheardUs(true);
    const pa_timing_info* timing = pa_stream_get_timing_info(m_stream);
    if (!latency || !timing)
        return false;
    // A server that mixes far ahead (a sound card's long buffer) and rewinds (see learnRewinds())
    // mixes the rewrite in again, and so does its monitor: the fall starts just ahead of the
    // sample heard. Any other may have recorded what it mixed at its monitor already: the fall
    // comes after that, and on a server that cannot rewind, after what it may take meanwhile;
    // the wait lasts until that has been heard too.
    m_mixedAheadUs = timing->sink_usec;
    const bool farAhead = m_serverRewinds && m_mixedAheadUs > kFarAheadUs;
    const pa_usec_t queuedUs = *latency > timing->sink_usec ? *latency - timing->sink_usec : 0;
    const std::size_t taken = m_serverRewinds ? 0 : pa_usec_to_bytes(kTakenAtOnceUs, &samples);
    const std::size_t lead = std::max(taken, pa_usec_to_bytes(kFallLeadUs, &samples));
    const std::size_t unheard = pa_usec_to_bytes(farAhead ? *latency : queuedUs, &samples);
    if (unheard <= lead || unheard > m_recent.size())
        return false;
    const std::vector<std::uint8_t> fall = m_recent.fall(unheard - lead, &m_held);
    if (pa_stream_write(m_stream, fall.data(), fall.size(), nullptr,
                        -static_cast<std::int64_t>(fall.size()), PA_SEEK_RELATIVE) < 0) {
        m_held.clear();
        return false;
    }
    awaitHeard(m_held.size() - std::min(m_held.size(), taken));
    return true;
}

// Waits until no more than `leftBytes` are unheard, looking again at the server's timing after
// the time that should take; a stream that does not play (yet) is not waited for.
void PulseOutput::awaitHeard(std::size_t leftBytes) {
    const pa_sample_spec samples = sampleSpec(m_format);
    for (int look = 0; look < fade::kHeardLooks; ++look) {
        const std::optional<pa_usec_t> latency = unheardUs(look > 0);
        const pa_timing_info* timing = pa_stream_get_timing_info(m_stream);
        if (!latency || !timing || !timing->playing)
            return;
        const pa_usec_t leftUs = pa_bytes_to_usec(leftBytes, &samples);
        if (*latency <= leftUs)
            return;
        m_server.sleepFor(std::chrono::microseconds(std::min(*latency - leftUs, kLongestLookUs)));
    }
}

// Asks the server how far it mixes ahead of what is heard; kept as it was when it cannot tell.
void PulseOutput::learnMixedAhead() {
    const pa_timing_info* timing = nullptr;
    if (m_server.run(pa_stream_update_timing_info(m_stream, nullptr, nullptr)) &&
        (timing = pa_stream_get_timing_info(m_stream)))
        m_mixedAheadUs = timing->sink_usec;
}

// PipeWire's pulse server cannot take back what its graph took from the stream's queue: there
// only what is still queued may be rewritten, however far ahead its sink mixes.
void PulseOutput::learnRewinds() {
    auto onInfo = [](pa_context*, const pa_server_info* info, void* rewinds) {
        if (info && info->server_name)
            *static_cast<bool*>(rewinds) = !std::strstr(info->server_name, "PipeWire");
    };
    m_server.run(pa_context_get_server_info(m_server.context(), onInfo, &m_serverRewinds));
}

// What the server holds unheard; nullopt when it cannot tell. `fresh`: asks the server now
// rather than going by its last report (a flush also leaves that unknown).
std::optional<pa_usec_t> PulseOutput::unheardUs(bool fresh) {
    pa_usec_t latencyUs = 0;
    int negative = 0;
    if ((fresh || pa_stream_get_latency(m_stream, &latencyUs, &negative) < 0) &&
        (!m_server.run(pa_stream_update_timing_info(m_stream, nullptr, nullptr)) ||
         pa_stream_get_latency(m_stream, &latencyUs, &negative) < 0))
        return std::nullopt;
    return negative ? 0 : latencyUs;
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

// A pause fades out and takes back what follows the fall, to give it again at the resume, which
// fades in; where no fall can be placed, the cork cuts and the server keeps its queue.
void PulseOutput::pause(bool paused) {
    std::lock_guard lock(m_server);
    if (!streamGood() || paused == m_corked)
        return;
    if (paused) {
        const bool faded = fadeOut();
        cork(true);
        if (faded)
            flush();
        return;
    }
    if (!m_held.empty()) {
        send(m_held.data(), m_held.size());
        m_held.clear();
    }
    cork(false);
    // Less than the server's start threshold may be queued now.
    m_server.run(pa_stream_trigger(m_stream, nullptr, nullptr));
}

void PulseOutput::cork(bool corked) {
    m_server.run(pa_stream_cork(m_stream, corked ? 1 : 0, nullptr, nullptr));
    m_corked = corked;
}

long long PulseOutput::delayFrames() {
    std::lock_guard lock(m_server);
    if (!streamGood())
        return 0;
    // A fresh report now and then keeps the interpolation true, far fewer than libpulse's
    // automatic ones, which would wake the server and this process many times a second.
    const auto now = std::chrono::steady_clock::now();
    if (now - m_timingAsked >= kTimingInterval) {
        m_timingAsked = now;
        if (auto* asking = pa_stream_update_timing_info(m_stream, nullptr, nullptr))
            pa_operation_unref(asking);
    }
    const pa_sample_spec samples = sampleSpec(m_format);
    const std::size_t latency = pa_usec_to_bytes(unheardUs(false).value_or(0), &samples);
    // The silence before a rise was never handed over: what is left of it is not counted.
    const std::size_t songSent = m_sentSinceFlush - m_padBytes;
    const std::size_t padLeft = std::min(latency - std::min(latency, songSent), m_padBytes);
    return static_cast<long long>((latency - padLeft + m_held.size()) /
                                  static_cast<std::size_t>(m_format.bytesPerFrame()));
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
