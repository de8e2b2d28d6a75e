#pragma once

#include "platform/audio/Decoder.h"
#include "platform/audio/Output.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// The one audio engine of the process. Streams (open songs) are decoded and written to the
// output on the engine's own thread, the only thread that touches decoders and outputs. The
// public functions may be called from any thread: each hands a command to the engine thread
// and returns as soon as the engine has carried it out, which takes a few milliseconds at most,
// because an output blocked in a write is interrupted for it.
//
// Only one stream sounds at a time: playing a stream stops the one that was sounding.
// The output is chosen at each song's start, first that works: PulseAudio (also PipeWire),
// ALSA "default", then a null output that takes audio in real time. A song on the null output
// tries the others again about once a second, so that it is heard again as soon as a server
// (back after a crash, or started late) answers. Tests may put their own.
namespace audio {

using StreamId = int; // 0 is no stream

enum class StreamMode {
    Stopped, // opened, or stopped, or played to its end
    Playing,
    Paused,
};

// The stream the output holds (sounding, or the last to sound and still open), for display.
struct StreamInfo {
    StreamMode mode = StreamMode::Stopped;
    std::string path;
    SongInfo song;
    int rateHz = 0;
    long long playedFrames = 0; // handed to the output so far (its buffer is still ahead)
};

class Engine {
public:
    static constexpr int kDefaultBufferMs = 2000;

    static Engine& instance();

    // Opens a song for playing. Returns its id, or 0 and the reason in `status`.
    StreamId open(const std::string& path, OpenStatus* status);
    // Each returns false for an unknown id and changes nothing then.
    // play: from the current position (at the end: nothing sounds). Returns at once.
    bool play(StreamId id);
    // pause holds the exact sample; resume goes on from it. Both do nothing in other modes.
    bool pause(StreamId id);
    bool resume(StreamId id);
    // stop silences at once; a later play goes on from about where it stopped.
    bool stop(StreamId id);
    // close stops and releases the song; closeAll does so for every song.
    bool close(StreamId id);
    void closeAll();

    // Mode of a stream; Stopped for an unknown one.
    StreamMode mode(StreamId id);
    // Number of streams open now.
    int streamCount();
    // Whether a stream is sounding now (playing, not paused, not yet at its end).
    bool playing();
    // The stream the output holds; nullopt when none is open (nothing played, or it was closed).
    // Answered at once from what the engine last published, which a command's change is by the
    // time the command returns: it neither waits for the engine nor interrupts its output.
    std::optional<StreamInfo> currentStream();
    // `listener` is called on the engine thread whenever the stream the output holds, or its
    // mode, changed (by a command, before it returns, or by a song that played to its end),
    // once currentStream() tells the change. It must return at once and must not call the
    // engine. Once this returns, the listener before it is not running and is never called
    // again. Empty: none.
    void setChangeListener(std::function<void()> listener);

    // Puts an output of the caller's choice in place of the automatic choice, from the next
    // song on; null goes back to the automatic choice.
    void setOutput(std::unique_ptr<Output> output);
    // Buffer asked of outputs from the next song on: large keeps playback cheap, small suits
    // tests that listen to the sound (about 50 ms).
    void setBufferMs(int bufferMs);
    // Name of the output in use ("pulse", "alsa", "null", "wav"), empty when none is open.
    std::string outputName();

    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

private:
    struct Stream;
    Engine();

    // Runs `command` on the engine thread and waits for it.
    void call(const std::function<void()>& command);
    template <typename T> T ask(const std::function<T()>& question);

    void run();
    bool hasWork() const;
    void step();
    void playStep(Stream& stream);
    bool ensureOutput(const PcmFormat& format);
    bool openOutput(const PcmFormat& format);
    bool tryOutput(Output* output, const PcmFormat& format);
    void retryRealOutput(const PcmFormat& format);
    void closeOutput();
    long writeScaled(const std::uint8_t* data, std::size_t bytes);
    void applyGain();
    void silenceCurrent();
    void resumeStream(StreamId id, Stream& stream);
    Stream* find(StreamId id);
    // Whether something (a command, a volume change) is waiting for the engine thread.
    bool hasPendingCommand();
    static void onWaveLineChanged();
    void interruptOutput();
    void reportChange();

    // Engine thread only.
    std::map<StreamId, Stream> m_streams;
    StreamId m_nextId = 1;
    StreamId m_current = 0; // the stream whose samples the output holds
    Output* m_output = nullptr;
    bool m_outputOpen = false;
    bool m_outputPaused = false;
    PcmFormat m_outputFormat;
    bool m_softwareGain = true;
    std::vector<std::uint8_t> m_scratch;
    std::vector<std::unique_ptr<Output>> m_automatic;  // pulse, alsa, null, made when first needed
    std::chrono::steady_clock::time_point m_nextRetry; // of the real outputs, while on null
    std::function<void()> m_changeListener;
    std::pair<StreamId, StreamMode> m_reported{0, StreamMode::Stopped}; // published last

    // Shared with callers, under m_mutex.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_commands;
    bool m_quit = false;
    std::unique_ptr<Output> m_injected;
    std::vector<std::unique_ptr<Output>> m_retired; // kept: a caller may still interrupt them
    bool m_useInjected = false;
    int m_bufferMs = kDefaultBufferMs;
    Output* m_interruptible = nullptr; // output the engine thread may block in
    bool m_gainChanged = false;

    // What currentStream() answers: written by the engine thread, read by any.
    std::mutex m_publishedMutex;
    std::optional<StreamInfo> m_published;
    std::atomic<long long> m_playedFrames{0}; // of the published stream, kept current

    std::thread m_thread;
};

} // namespace audio
