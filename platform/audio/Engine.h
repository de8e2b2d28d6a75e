#pragma once

#include "platform/audio/Decoder.h"
#include "platform/audio/FileOpener.h"
#include "platform/audio/Output.h"
#include "platform/audio/WaitClock.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The one audio engine of the process. Streams (open songs) are decoded and written to the
// output on the engine's own thread, the only thread that touches decoders and outputs once a
// song is open. The public functions may be called from any thread: each hands a command to
// the engine thread and waits for it, which takes a few milliseconds, because an output blocked
// in a write is interrupted for it. The wait is bounded: when the engine does not take the
// command up within kCommandWait (longer than any one step of its own, which the outputs'
// timeouts bound), the command is withdrawn, changes nothing and says TimedOut, and until the
// engine comes back every command says so at once (see CommandQueue). A file is opened and read
// up to its first frame on a thread of its own, so that a file whose reads block holds up
// neither the caller nor the engine: after kOpenWait the open says TimedOut and the file is let
// go of whenever its reads return (see FileOpener).
//
// Only one stream sounds at a time: playing a stream stops the one that was sounding.
// The output is chosen at each song's start from a priority list, first that opens: by default
// PulseAudio (also PipeWire), ALSA "default", then a null output that takes audio in real time.
// A song on the last output of the list (the fallback) tries the others again about once a
// second, so that it is heard again as soon as a server (back after a crash, or started late)
// answers. An output that breaks in a write is closed and the list is tried again from the top.
namespace audio {

using StreamId = int; // 0 is no stream

enum class StreamMode {
    Stopped, // opened, or stopped, or played to its end
    Playing,
    Paused,
};

enum class CommandResult {
    Done,
    UnknownStream, // no stream by that id: nothing changed
    TimedOut,      // the engine did not take the command up within kCommandWait: nothing changed
};

// The stream the output holds (sounding, or the last to sound and still open), for display.
struct StreamInfo {
    StreamMode mode = StreamMode::Stopped;
    std::string path;
    SongInfo song;
    int rateHz = 0;
    // The position: frames of the song heard so far, as of the call. It moves on with the clock
    // while the song plays, holds while it is paused or stopped, never passes what the output
    // was given and never goes back while the same song is held.
    long long heardFrames = 0;
};

class Engine {
public:
    static constexpr int kDefaultBufferMs = 2000;
    static constexpr auto kCommandWait = std::chrono::milliseconds(3000);
    static constexpr auto kOpenWait = std::chrono::milliseconds(2000);
    static constexpr auto kRetryInterval = std::chrono::seconds(1);

    using Clock = WaitClock::Clock;
    using DecoderFactory = FileOpener::Factory;
    using Outputs = std::vector<std::unique_ptr<Output>>;

    static Engine& instance();

    // PulseAudio, ALSA "default", null: the list used unless the caller gives one.
    static Outputs automaticOutputs();

    // Opens a song for playing. Returns its id, or 0 and the reason in `status` (TimedOut when
    // the file's first reads take longer than kOpenWait, or the engine does not answer).
    StreamId open(const std::string& path, OpenStatus* status);
    // play: from the current position (at the end: nothing sounds). Returns at once.
    CommandResult play(StreamId id);
    // pause holds the exact sample; resume goes on from it. Both do nothing in other modes.
    CommandResult pause(StreamId id);
    CommandResult resume(StreamId id);
    // stop silences at once; a later play goes on from about where it stopped.
    CommandResult stop(StreamId id);
    // close stops and releases the song; closeAll does so for every song.
    CommandResult close(StreamId id);
    void closeAll();

    // Mode of a stream; Stopped for an unknown one (or when the engine does not answer).
    StreamMode mode(StreamId id);
    // Number of streams open now (0 when the engine does not answer).
    int streamCount();
    // Whether a stream is sounding now (playing, not paused, not yet at its end).
    bool playing();
    // The stream the output holds; nullopt when none is open (nothing played, or it was closed).
    // Answered at once from what the engine last published, which a command's change is by the
    // time the command returns: it neither waits for the engine nor interrupts its output. The
    // position is the engine's last measure of what was heard, carried on at the song's rate.
    std::optional<StreamInfo> currentStream();
    // `listener` is called on the engine thread whenever the stream the output holds, or its
    // mode, changed (by a command, before it returns, or by a song that played to its end),
    // once currentStream() tells the change. It must return at once and must not call the
    // engine but for currentStream(). Once this returns, the listener before it is not running
    // and is never called again. Empty: none.
    void setChangeListener(std::function<void()> listener);

    // The outputs to choose from, in priority order, from the next song on; an empty list goes
    // back to automaticOutputs(). The engine owns them until the next call.
    void setOutputs(Outputs outputs);
    // The same for a single output (null: the automatic list).
    void setOutput(std::unique_ptr<Output> output);
    // Buffer asked of outputs from the next song on: large keeps playback cheap, small suits
    // tests that listen to the sound (about 50 ms).
    void setBufferMs(int bufferMs);
    // Name of the output in use ("pulse", "alsa", "null", "wav"), empty when none is open.
    std::string outputName();

    // For tests: the clock that the time limits and the retries of the better outputs are
    // measured on (null: the steady clock), and what opens a file (null: Decoder::open), to
    // stand in for files that misbehave.
    void setClock(std::shared_ptr<const WaitClock> clock);
    void setDecoderFactory(DecoderFactory factory);

    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

private:
    struct Impl;
    Engine();

    std::unique_ptr<Impl> m_impl;
};

} // namespace audio
