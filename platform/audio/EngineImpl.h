#pragma once

#include "platform/audio/CommandQueue.h"
#include "platform/audio/Engine.h"
#include "platform/audio/FileOpener.h"

#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// The engine's own state, for its two halves alone: Engine.cpp is the engine thread's loop
// (decoding, writing, choosing an output), EngineCommands.cpp what each public call has the
// engine thread do.
namespace audio {

struct Engine::Impl {
    struct Stream {
        std::unique_ptr<Decoder> decoder;
        std::string path;
        long long handedFrames = 0;    // to the output
        long long heardFrames = 0;     // as last measured: handed minus what the output holds
        std::vector<std::uint8_t> pcm; // decoded, not yet taken by the output from `offset` on
        std::size_t offset = 0;
        StreamMode mode = StreamMode::Stopped;
        bool decoded = false; // the decoder has given its last sample
        bool atEnd = false;   // and the output has played it
    };

    enum class OutputState { Ready, Waiting, Unavailable };

    Impl();
    ~Impl();

    // How the public calls (EngineCommands.cpp) hand their work to the engine thread.

    // Runs `command` on the engine thread and waits for it; configuration only (no bound).
    void call(std::function<void()> command);
    // Runs `question` on the engine thread unless the engine does not take it up within
    // kCommandWait (see CommandQueue); then it never runs.
    template <typename T> std::optional<T> ask(std::function<T()> question);
    CommandResult onStream(StreamId id, std::function<void(Stream&)> action);

    void resumeStream(StreamId id, Stream& stream);
    void reportChange();
    void publishPosition(Stream* current);
    void measureHeard(Stream& stream);
    long long heardNow() const;

    // The engine thread's loop (Engine.cpp).
    void run();
    bool hasWork() const;
    void step();
    void playStep(Stream& stream);
    void endAtPartialFrame(Stream& stream);
    void finishStream(Stream& stream);
    OutputState ensureOutput(const PcmFormat& format);
    bool openOutput(const PcmFormat& format);
    bool tryOutput(Output* output, const PcmFormat& format);
    void retryBetterOutput(const PcmFormat& format);
    void closeOutput();
    long writeScaled(const std::uint8_t* data, std::size_t bytes);
    void applyGain();
    void silenceCurrent();
    Stream* find(StreamId id);
    Clock::time_point now() const;
    static void onWaveLineChanged();

    static std::atomic<Impl*> g_engine; // for the wave line's word of a change

    // Engine thread only.
    std::map<StreamId, Stream> m_streams;
    StreamId m_nextId = 1;
    StreamId m_current = 0; // the stream whose samples the output holds
    Outputs m_outputs;      // priority order; made automatically when first needed if empty
    Output* m_output = nullptr;
    bool m_outputOpen = false;
    bool m_outputPaused = false;
    PcmFormat m_outputFormat;
    bool m_softwareGain = true;
    std::vector<std::uint8_t> m_scratch;
    Clock::time_point m_nextRetry; // of the better outputs, while on the fallback
    std::shared_ptr<const WaitClock> m_clock = WaitClock::steady();
    std::function<void()> m_changeListener;
    std::pair<StreamId, StreamMode> m_reported{0, StreamMode::Stopped}; // published last
    bool m_quit = false;

    // Any thread.
    CommandQueue m_commands;
    FileOpener m_opener;
    std::atomic<int> m_bufferMs{kDefaultBufferMs};
    std::atomic<bool> m_gainChanged{false}; // and the engine has not applied it yet

    // What currentStream() answers: written by the engine thread, read by any.
    struct PositionMark {
        long long heard = 0;  // frames, measured at `at`
        long long handed = 0; // what the output was given then: heard never passes it
        Clock::time_point at;
        bool moving = false; // sounding: heard moves on at the song's rate from `at`
    };
    std::mutex m_publishedMutex; // also over m_clock's changes, as readers interpolate on it
    std::optional<StreamInfo> m_published;
    PositionMark m_mark;
    long long m_answeredFrames = 0; // the furthest position told of the published stream

    std::thread m_thread;
};

} // namespace audio
