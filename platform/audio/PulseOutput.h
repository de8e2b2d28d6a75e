#pragma once

#include "platform/audio/Fade.h"
#include "platform/audio/Output.h"
#include "platform/audio/PulseConnection.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

struct pa_stream;

namespace audio {

// Plays through a PulseAudio server (also PipeWire's). The server keeps a large buffer while
// playing, so the engine wakes only a few times a second; pause corks the stream and drop
// flushes it. Neither cuts the waveform: the output keeps a copy of what it handed the server
// lately and rewrites what is not heard yet with a fade to silence first; what a pause took back
// is given again at the resume, fading in. The connection is made at the first open() and made
// again after the server went away.
//
// The wave line is the stream's own volume and mute on the server (its per-application volume),
// so a change reaches even what is already queued. The desktop's mixer may change them too: the
// server reports it, the output reads the stream, and the line takes what it found (the next
// song starts there); the stream is read once more as it closes.
class PulseOutput final : public Output {
public:
    // The longest it waits for the server in one call that interrupt() cannot cut short: for a
    // connection, for a stream to be made, for a request's answer. An open makes a connection
    // and a stream.
    static constexpr int kConnectTimeoutMs = 1000;
    static constexpr int kOperationTimeoutMs = 2000;
    static constexpr int kLongestWaitMs = std::max(2 * kConnectTimeoutMs, kOperationTimeoutMs);

    // How often the stream's timing is asked for while the engine writes or reads the delay.
    static constexpr auto kTimingInterval = std::chrono::seconds(1);

    PulseOutput();
    ~PulseOutput() override;

    bool open(const PcmFormat& format, int bufferMs) override;
    long write(const std::uint8_t* data, std::size_t bytes) override;
    void drop() override;
    DrainResult drain() override;
    void pause(bool paused) override;
    void close() override;
    long long delayFrames() override;
    bool setVolume(std::uint16_t volume, bool muted) override;
    void interrupt() override;
    const char* name() const override { return "pulse"; }

    // The calls below run with the connection's lock held.
private:
    bool streamGood() const;
    bool send(const std::uint8_t* data, std::size_t bytes);
    void flush();
    void cork(bool corked);
    bool fadeOut();
    void awaitHeard(std::size_t leftBytes);
    void learnMixedAhead();
    void learnRewinds();
    std::optional<std::uint64_t> unheardUs(bool fresh);
    bool connectStream(int bufferMs);
    void closeStream(bool readBack);
    void applyVolume();
    void readStream(bool wait);
    void takeFound(std::uint32_t serverVolume, bool muted);

    PulseConnection m_server;
    pa_stream* m_stream = nullptr;
    PcmFormat m_format;
    fade::Recent m_recent;            // at least what the server may hold unheard
    std::vector<std::uint8_t> m_held; // unheard at a pause, given again at the resume
    std::size_t m_sentSinceFlush = 0; // bytes, with the silence before rises
    std::size_t m_padBytes = 0;       // of that silence
    std::uint64_t m_mixedAheadUs = 0; // how far the server mixed ahead, when it last said
    bool m_corked = false;
    bool m_serverRewinds = true;    // takes back what its sink mixed ahead, to mix a rewrite in
    std::uint16_t m_volume = 65535; // as the stream holds it, or will at the next open
    bool m_muted = false;
    std::chrono::steady_clock::time_point m_timingAsked;
    bool m_applying = false; // a read answered meanwhile may predate the change: it is ignored
};

} // namespace audio
