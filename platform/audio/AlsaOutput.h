#pragma once

#include "platform/audio/Fade.h"
#include "platform/audio/Output.h"

#include <cstdint>
#include <vector>

struct _snd_pcm;

namespace audio {

// Plays through an ALSA device ("default" unless told otherwise) when no sound server answers.
// A device that ALSA routes to PulseAudio is refused: that server is the Pulse output's.
// Where the device can rewind, a pause or a drop rewrites what it holds with a fade to silence
// first; the pause takes back what follows the fall and gives it again at the resume, fading
// in. Elsewhere pause uses the device's own pause, and a device that cannot pause drops what it
// holds instead, so up to one buffer (at most kMaxBufferMs) of the song is skipped there.
// Volume is left to the engine.
class AlsaOutput final : public Output {
public:
    static constexpr int kMaxBufferMs = 250;

    explicit AlsaOutput(const char* device = "default");
    ~AlsaOutput() override;

    bool open(const PcmFormat& format, int bufferMs) override;
    long write(const std::uint8_t* data, std::size_t bytes) override;
    void drop() override;
    DrainResult drain() override;
    void pause(bool paused) override;
    void close() override;
    long long delayFrames() override;
    bool setVolume(std::uint16_t, bool) override { return false; }
    void interrupt() override;
    const char* name() const override { return "alsa"; }

private:
    // Waits until the time is up, interrupt() is called or (when watched) the device wants
    // data; false when interrupted.
    bool waitForDevice(int timeoutMs, bool watchDevice);
    long writeFrames(const std::uint8_t* data, std::size_t bytes);
    void writeWhole(const std::vector<std::uint8_t>& bytes);
    bool fadeOut();
    void awaitHeard(long long leftFrames);
    void cut();

    const char* m_device;
    _snd_pcm* m_pcm = nullptr;
    PcmFormat m_format;
    fade::Recent m_recent;
    std::vector<std::uint8_t> m_held; // unheard at a pause, given again at the resume
    bool m_fellSilent = false;        // paused by a fall: the device was emptied
    int m_wakeFd;                     // eventfd that interrupt() signals
};

} // namespace audio
