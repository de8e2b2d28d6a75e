#include "platform/audio/AlsaOutput.h"

#include "platform/audio/AlsaErrors.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace audio {
namespace {

// Whether ALSA's configuration makes `device` the PulseAudio plugin, as desktops with a running
// server do for "default". That is the server the engine's own Pulse output tried first and
// failed with; through the plugin it would only be tried again, with no timeout of ours (a hung
// server holds its open for half a minute) and free to start a server of its own.
bool routesToPulse(const char* device) {
    snd_config_t* top = nullptr;
    if (snd_config_update_ref(&top) < 0)
        return false;
    snd_config_t* pcm = nullptr;
    snd_config_t* type = nullptr;
    const char* typeName = nullptr;
    bool pulse = false;
    if (snd_config_search_definition(top, "pcm", device, &pcm) >= 0) {
        pulse = snd_config_search(pcm, "type", &type) >= 0 &&
                snd_config_get_string(type, &typeName) >= 0 && std::strcmp(typeName, "pulse") == 0;
        snd_config_delete(pcm);
    }
    snd_config_unref(top);
    return pulse;
}

} // namespace

AlsaOutput::AlsaOutput(const char* device)
    : m_device(device), m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

AlsaOutput::~AlsaOutput() {
    close();
    ::close(m_wakeFd);
}

bool AlsaOutput::open(const PcmFormat& format, int bufferMs) {
    close();
    silenceAlsaErrors();
    if (routesToPulse(m_device))
        return false;
    if (snd_pcm_open(&m_pcm, m_device, SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        m_pcm = nullptr;
        return false;
    }
    const unsigned latencyUs = static_cast<unsigned>(std::min(bufferMs, kMaxBufferMs)) * 1000u;
    if (snd_pcm_set_params(m_pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED,
                           static_cast<unsigned>(format.channels),
                           static_cast<unsigned>(format.rateHz), 1, latencyUs) < 0) {
        close();
        return false;
    }
    m_format = format;
    snd_pcm_uframes_t bufferFrames = 0;
    snd_pcm_uframes_t periodFrames = 0;
    snd_pcm_get_params(m_pcm, &bufferFrames, &periodFrames);
    m_recent.restart(format, bufferFrames * static_cast<unsigned>(format.bytesPerFrame()), false);
    m_held.clear();
    m_fellSilent = false;
    return true;
}

// After a fall the device was emptied: what follows sets off with a rise, which is short
// enough to be taken whole.
long AlsaOutput::write(const std::uint8_t* data, std::size_t bytes) {
    const std::vector<std::uint8_t> risen = m_recent.rise(data, bytes);
    const long taken =
        risen.empty() ? writeFrames(data, bytes) : writeFrames(risen.data(), risen.size());
    if (taken > 0)
        m_recent.keep(risen.empty() ? data : risen.data(), static_cast<std::size_t>(taken));
    return taken;
}

long AlsaOutput::writeFrames(const std::uint8_t* data, std::size_t bytes) {
    const snd_pcm_uframes_t frames = bytes / static_cast<std::size_t>(m_format.bytesPerFrame());
    for (;;) {
        const snd_pcm_sframes_t written = snd_pcm_writei(m_pcm, data, frames);
        if (written >= 0)
            return static_cast<long>(written * m_format.bytesPerFrame());
        if (written == -EAGAIN) {
            if (!waitForDevice(-1, true))
                return 0;
            continue;
        }
        // An underrun or a suspend is recovered in place; anything else means the device is gone.
        if (snd_pcm_recover(m_pcm, static_cast<int>(written), 1) < 0)
            return -1;
    }
}

bool AlsaOutput::waitForDevice(int timeoutMs, bool watchDevice) {
    const int count = watchDevice ? std::max(snd_pcm_poll_descriptors_count(m_pcm), 0) : 0;
    std::vector<pollfd> fds(static_cast<std::size_t>(count) + 1);
    fds[0] = {m_wakeFd, POLLIN, 0};
    if (count > 0)
        snd_pcm_poll_descriptors(m_pcm, fds.data() + 1, static_cast<unsigned>(count));
    poll(fds.data(), fds.size(), timeoutMs);
    std::uint64_t signalled = 0;
    return ::read(m_wakeFd, &signalled, sizeof signalled) != sizeof signalled;
}

void AlsaOutput::drop() {
    if (snd_pcm_state(m_pcm) == SND_PCM_STATE_RUNNING && fadeOut())
        m_recent.emptied();
    m_held.clear();
    cut();
}

void AlsaOutput::cut() {
    snd_pcm_drop(m_pcm);
    snd_pcm_prepare(m_pcm);
}

// Rewinds what the device holds to just ahead of the sample heard and writes it again as a fall
// to silence, keeping what followed the fall for a resume. False, with nothing changed, when
// the device cannot rewind that far.
bool AlsaOutput::fadeOut() {
    const auto frameBytes = static_cast<std::size_t>(m_format.bytesPerFrame());
    const snd_pcm_sframes_t lead = m_format.rateHz * fade::kFallLeadMs / 1000;
    const snd_pcm_sframes_t rewindable = snd_pcm_rewindable(m_pcm);
    if (rewindable <= lead || static_cast<std::size_t>(rewindable) * frameBytes > m_recent.size())
        return false;
    const snd_pcm_sframes_t back =
        snd_pcm_rewind(m_pcm, static_cast<snd_pcm_uframes_t>(rewindable - lead));
    if (back <= 0)
        return false;
    writeWhole(m_recent.fall(static_cast<std::size_t>(back) * frameBytes, &m_held));
    awaitHeard(static_cast<long long>(m_held.size() / frameBytes));
    return true;
}

void AlsaOutput::writeWhole(const std::vector<std::uint8_t>& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const long taken = write(bytes.data() + done, bytes.size() - done);
        if (taken <= 0)
            return;
        done += static_cast<std::size_t>(taken);
    }
}

// Waits until no more than `leftFrames` are unheard, looking again after the time that should
// take; a device that does not run is not waited for.
void AlsaOutput::awaitHeard(long long leftFrames) {
    for (int look = 0; look < fade::kHeardLooks; ++look) {
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_state(m_pcm) != SND_PCM_STATE_RUNNING || snd_pcm_delay(m_pcm, &delay) < 0 ||
            delay <= leftFrames)
            return;
        const auto leftMs = static_cast<int>((delay - leftFrames) * 1000 / m_format.rateHz) + 1;
        if (!waitForDevice(leftMs, false))
            return;
    }
}

Output::DrainResult AlsaOutput::drain() {
    // A song shorter than the start threshold has not started yet.
    if (snd_pcm_state(m_pcm) == SND_PCM_STATE_PREPARED)
        snd_pcm_start(m_pcm);
    snd_pcm_uframes_t bufferFrames = 0;
    snd_pcm_uframes_t periodFrames = 0;
    snd_pcm_get_params(m_pcm, &bufferFrames, &periodFrames);
    for (;;) {
        const snd_pcm_sframes_t room = snd_pcm_avail(m_pcm);
        if (room == -EPIPE || (room >= 0 && static_cast<snd_pcm_uframes_t>(room) >= bufferFrames))
            return DrainResult::Drained; // an underrun at the end is the end
        if (room < 0)
            return DrainResult::Broken;
        const auto leftFrames = bufferFrames - static_cast<snd_pcm_uframes_t>(room);
        const int leftMs =
            static_cast<int>(leftFrames * 1000 / static_cast<unsigned>(m_format.rateHz)) + 1;
        if (!waitForDevice(leftMs, false))
            return DrainResult::Interrupted;
    }
}

void AlsaOutput::pause(bool paused) {
    if (paused && snd_pcm_state(m_pcm) == SND_PCM_STATE_RUNNING && fadeOut()) {
        m_fellSilent = true;
        cut();
        return;
    }
    if (!paused && std::exchange(m_fellSilent, false)) {
        m_recent.emptied();
        writeWhole(std::exchange(m_held, {}));
        return;
    }
    if (snd_pcm_pause(m_pcm, paused ? 1 : 0) < 0 && paused)
        cut();
}

long long AlsaOutput::delayFrames() {
    snd_pcm_sframes_t delay = 0;
    if (snd_pcm_delay(m_pcm, &delay) < 0)
        delay = 0;
    return std::max<long long>(delay, 0) +
           static_cast<long long>(m_held.size()) / m_format.bytesPerFrame();
}

void AlsaOutput::close() {
    if (!m_pcm)
        return;
    snd_pcm_close(m_pcm);
    m_pcm = nullptr;
}

void AlsaOutput::interrupt() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(m_wakeFd, &one, sizeof one);
}

} // namespace audio
