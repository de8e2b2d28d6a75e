#pragma once

#include "platform/audio/Output.h"
#include "platform/audio/WaveLine.h"

#include <algorithm>
#include <atomic>

struct pa_mainloop;
struct pa_context;
struct pa_stream;
struct pa_operation;

namespace audio {

// Plays through a PulseAudio server (also PipeWire's). The server keeps a large buffer while
// playing, so the engine wakes only a few times a second; pause corks the stream and drop
// flushes it, both heard at once. The wave-line volume is the stream's own volume on the server
// (its per-application volume), so a change reaches even what is already queued; the line
// learns which stream that is, and reads back at close what the desktop's mixer made of it. The
// connection is driven by the engine's thread itself (no thread of libpulse's own); it is
// made at the first open() and made again after the server went away; a server that lets a
// request time out is let go of as if it had gone, so that it costs one timeout, not one each.
class PulseOutput final : public Output {
public:
    // The longest it waits for the server in one call that interrupt() cannot cut short: for a
    // connection, for a stream to be made, for a request's answer. An open makes a connection
    // and a stream.
    static constexpr int kConnectTimeoutMs = 1000;
    static constexpr int kOperationTimeoutMs = 2000;
    static constexpr int kLongestWaitMs = std::max(2 * kConnectTimeoutMs, kOperationTimeoutMs);

    PulseOutput();
    ~PulseOutput() override;

    bool open(const PcmFormat& format, int bufferMs) override;
    long write(const std::uint8_t* data, std::size_t bytes) override;
    void drop() override;
    DrainResult drain() override;
    void pause(bool paused) override;
    void close() override;
    bool setVolume(std::uint16_t volume, bool muted) override;
    void interrupt() override;
    const char* name() const override { return "pulse"; }

private:
    bool connect();
    void disconnect();
    bool connected() const;
    bool streamGood() const;
    // Runs the main loop until `done` holds or the time runs out (a negative time never does).
    template <typename Done> bool runUntil(Done done, int timeoutMs);
    // Waits for an operation to finish (or be cut short by interrupt()) and releases it.
    bool finish(pa_operation* operation, bool interruptible);
    // Sends whatever the main loop still holds for the server, without blocking.
    void flushOutgoing();
    void applyVolume();
    // Closes the stream; `readBack` first hands its volume and mute on the server to the line.
    void closeStream(bool readBack);
    // The stream as the wave line knows it: where it plays and the values it was given.
    waveline::ServerStream playing() const;

    pa_mainloop* m_loop;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    PcmFormat m_format;
    std::uint16_t m_volume = 65535;
    bool m_muted = false;
    std::atomic<bool> m_interrupted{false};
};

} // namespace audio
