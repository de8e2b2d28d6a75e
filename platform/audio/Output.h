#pragma once

#include <cstddef>
#include <cstdint>

// Where decoded sound goes. Samples are always signed 16-bit, native byte order, interleaved.
//
// The flow: the engine opens an output with a song's format, then writes blocks as fast as
// the output takes them; write() blocks while the output's buffer is full, which is what paces
// the engine. pause() holds what is queued, drop() throws it away (drop != drain), drain()
// waits until it has been heard. A new song with another format closes and opens again.
//
// Thread rule: every function but interrupt() is called from the engine's thread only, one at
// a time. interrupt() may be called from any thread at any time, also while the engine thread
// blocks in write() or drain(); it is what lets a command reach a busy engine at once.
namespace audio {

struct PcmFormat {
    int rateHz = 0;
    int channels = 0; // 1 or 2

    int bytesPerFrame() const { return channels * 2; }
    bool operator==(const PcmFormat&) const = default;
};

class Output {
public:
    virtual ~Output() = default;

    // Prepares playback of this format with about bufferMs of queued sound. Returns false when
    // the output cannot play now (no server, no device); it is then closed. Closed before.
    virtual bool open(const PcmFormat& format, int bufferMs) = 0;

    // Queues up to `bytes` (whole frames) and returns how many it took. Blocks while the
    // buffer is full until some space frees or interrupt() is called (then it may return 0).
    // Returns -1 when the output broke (server gone, device removed): the caller closes it
    // and opens again. Open only.
    virtual long write(const std::uint8_t* data, std::size_t bytes) = 0;

    // Discards everything queued, so that silence follows at once. Open only; never fails.
    virtual void drop() = 0;

    enum class DrainResult {
        Drained,     // everything queued has been heard
        Interrupted, // interrupt() cut the wait short: call again to go on waiting
        Broken,      // the output broke (server gone, device removed): what it held is lost
    };
    // Starts playback of whatever is queued, if it has not started, and blocks until it has all
    // been heard. Open only.
    virtual DrainResult drain() = 0;

    // Holds playback at the current sample, keeping what is queued (true), or goes on (false).
    // Here and in drop() an output may fade out over a few milliseconds first, and in again.
    // Open only; never fails (an output that cannot hold drops instead, and says so above it).
    virtual void pause(bool paused) = 0;

    // Releases the device or stream. Safe to call when already closed.
    virtual void close() = 0;

    // Frames written but not yet heard: what the output, the server or the device still holds
    // ahead of the speaker, as of now. Open only; 0 when it holds nothing or cannot tell.
    virtual long long delayFrames() = 0;

    // Applies the wave-line volume (0..65535, linear) and mute to what plays, including what is
    // already queued, and returns true; or returns false to have the engine scale the samples
    // it writes from now on. May be called when closed; an output that returns true then
    // applies the values at the next open.
    virtual bool setVolume(std::uint16_t volume, bool muted) = 0;

    // Any thread. Makes a write() or drain() that blocks now, or the next one, return soon.
    virtual void interrupt() = 0;

    // A short name for diagnostics: "pulse", "alsa", "null", "wav".
    virtual const char* name() const = 0;
};

} // namespace audio
