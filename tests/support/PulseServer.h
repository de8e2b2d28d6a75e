#pragma once

#include "tests/support/SessionBus.h"

#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// A private PulseAudio server for tests that listen to what is played: one null sink
// "quiva_test" (44.1 kHz stereo) whose monitor records everything, anonymous access on a
// socket in its own runtime folder, no state shared with any other server. Started in the
// constructor (ready, or running() false), stopped by its PID in the destructor. kill() and
// start() let a test crash it and bring up a fresh one at the same address.
// With QUIVA_TEST_SOUND_SERVER=pipewire in the environment the server is PipeWire's pulse
// server instead, as most desktops run it: on a private PipeWire graph holding the same sink,
// with WirePlumber (no devices, no stored stream volumes) on a private session bus. kill(),
// start() and freeze() then act on the pulse server alone; the graph lives on beneath it.
class PulseServer {
public:
    static constexpr const char* kSinkName = "quiva_test";
    static constexpr const char* kMonitorName = "quiva_test.monitor";
    static constexpr int kRateHz = 44100;
    static constexpr int kChannels = 2;

    PulseServer();
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    bool running() const { return m_pid > 0; }
    // Ends the server with SIGKILL, as a crash would (clients see their connection drop, the
    // socket file stays behind), and waits until it is gone.
    void kill();
    // Starts a fresh server at the same address once none runs; true when it answers there.
    bool start();
    // Stops (SIGSTOP) or continues (SIGCONT) the server: a hung server, as its clients see it.
    void freeze(bool frozen);
    // The server's address for clients, "unix:/.../pulse/native".
    QString address() const;
    // Points this process's clients (and programs it starts) at the server: sets PULSE_SERVER.
    void exportAddress() const;

    // Runs pactl on this server (C locale); true when it succeeded within 10 s. `output`, if
    // given, receives its standard output.
    bool pactl(const QStringList& arguments, QString* output = nullptr) const;

    // A playback stream as the server's own mixer shows it.
    struct SinkInput {
        int index = -1;
        std::uint32_t volume = 0; // the loudest channel's, in the server's units (norm 65536)
        bool muted = false;
        // PipeWire's pulse server lists a stream it is still making, corked and at volume 0.
        bool corked = false;
    };
    // The server's playback streams now.
    std::vector<SinkInput> sinkInputs() const;

private:
    std::vector<std::string> environment() const;
    pid_t spawnPipeWirePulse();
    bool startGraph();
    bool graphChoseTheSink() const;

    QTemporaryDir m_root;
    pid_t m_pid = -1; // the process that answers at address()
    // On PipeWire, what the pulse server stands on: its bus, then the graph and its session
    // manager in start order.
    std::optional<SessionBus> m_bus;
    std::vector<pid_t> m_graph;
};

// Records the test sink's monitor with parecord (20 ms latency) into a raw file of 16-bit
// stereo samples at 44.1 kHz, from construction until stop() or destruction.
class MonitorRecorder {
public:
    explicit MonitorRecorder(const PulseServer& server);
    ~MonitorRecorder();
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;

    bool running() const { return m_pid > 0; }
    // Frames recorded so far (what parecord has written out).
    long long frames() const;
    // Left-channel samples of frames [from, from + count) recorded so far (fewer at the end).
    std::vector<std::int16_t> left(long long from, long long count) const;
    // Waits up to timeoutMs for `count` frames after `from` to exist; false on timeout.
    bool waitForFrames(long long from, long long count, int timeoutMs) const;
    // Whether the last 100 ms recorded are the clean tone of `hz` at a clear level (the test
    // songs are sines at half scale, RMS about 11600 at full volume).
    bool hearsTone(double hz) const;
    // Whether the last 100 ms recorded are silence (the silent sink records exact zeros).
    bool hearsSilence() const;
    // The level (RMS) of the next `frames` frames, once recorded; -1 after timeoutMs.
    double levelOfNext(long long frames, int timeoutMs) const;
    void stop();

private:
    QString m_path;
    QTemporaryDir m_dir;
    pid_t m_pid = -1;
};

// Root mean square of samples, in the samples' own units (a full-scale sine: about 23170).
double rms(const std::vector<std::int16_t>& samples);
// Frequency of a clean tone in samples at rateHz, from the count of rising zero crossings.
double toneFrequencyHz(const std::vector<std::int16_t>& samples, int rateHz);
