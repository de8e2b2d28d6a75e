// Playback cost and responsiveness, against the bare tools:
//  - CPU and context switches per second while a 192 kbit/s song plays to a null sink, next to
//    `mpg123 -o pulse` playing the same file to the same server;
//  - decoding speed through the engine (decoder, engine thread, an output that takes all) next
//    to bare libmpg123;
//  - PlaySong until the first sample reaches the output, and PauseSong or a stop until the sink
//    is silent (the output fades out first);
//  - the position the engine tells against what the sink plays, and the end of a song against
//    the moment it turns Stopped.
#include "platform/audio/Engine.h"
#include "platform/audio/PulseOutput.h"
#include "player/MP3Play.h"
#include "tests/support/PulseServer.h"

#include <QDir>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <mpg123.h>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr int kPlaySeconds = 20;
constexpr int kSongSeconds = kPlaySeconds + 5; // some left to play after the measured stretch

double msSince(Clock::time_point start, Clock::time_point end) {
    return std::chrono::duration<double, std::milli>(end - start).count();
}

void row(const std::string& what, const std::string& measured, const std::string& target) {
    std::printf("| %s | %s | %s |\n", what.c_str(), measured.c_str(), target.c_str());
    std::fflush(stdout);
}

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

// CPU time (from the scheduler, in ns) and context switches of every thread of a process.
struct Usage {
    double cpuNs = 0;
    double switches = 0;
};

Usage usageOf(pid_t pid) {
    Usage usage;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream schedstat((tasks + "/" + task + "/schedstat").toStdString());
        double ns = 0;
        schedstat >> ns;
        usage.cpuNs += ns;
        std::ifstream status((tasks + "/" + task + "/status").toStdString());
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                usage.switches += std::stod(line.substr(line.find(':') + 1));
        }
    }
    return usage;
}

// Percent of one core and switches per second of a process over a stretch of playing.
std::pair<double, double> measure(pid_t pid, int seconds) {
    const Usage before = usageOf(pid);
    const auto start = Clock::now();
    QThread::sleep(static_cast<unsigned long>(seconds));
    const Usage after = usageOf(pid);
    const double elapsedNs = msSince(start, Clock::now()) * 1e6;
    return {100.0 * (after.cpuNs - before.cpuNs) / elapsedNs,
            (after.switches - before.switches) * 1e9 / elapsedNs};
}

pid_t spawnMpg123(const std::string& song) {
    const char* argv[] = {"mpg123", "-q", "-o", "pulse", song.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc =
        posix_spawnp(&pid, "mpg123", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// An output that takes everything at once and notes when the first sample came.
class StopwatchOutput final : public audio::Output {
public:
    explicit StopwatchOutput(std::unique_ptr<audio::Output> inner = nullptr)
        : m_inner(std::move(inner)) {}
    bool open(const audio::PcmFormat& format, int bufferMs) override {
        return !m_inner || m_inner->open(format, bufferMs);
    }
    long write(const std::uint8_t* data, std::size_t bytes) override {
        if (!m_firstWrite.load())
            m_firstWrite = Clock::now().time_since_epoch().count();

        return m_inner ? m_inner->write(data, bytes) : static_cast<long>(bytes);
    }
    void drop() override {
        if (m_inner)
            m_inner->drop();
    }
    DrainResult drain() override { return m_inner ? m_inner->drain() : DrainResult::Drained; }
    void pause(bool paused) override {
        if (m_inner)
            m_inner->pause(paused);
    }
    void close() override {
        if (m_inner)
            m_inner->close();
    }
    long long delayFrames() override { return m_inner ? m_inner->delayFrames() : 0; }
    bool setVolume(std::uint16_t volume, bool muted) override {
        return m_inner && m_inner->setVolume(volume, muted);
    }
    void interrupt() override {
        if (m_inner)
            m_inner->interrupt();
    }
    const char* name() const override { return "stopwatch"; }

    void reset() { m_firstWrite = 0; }
    // When the first sample came since reset(), or nullopt.
    std::optional<Clock::time_point> firstWrite() const {
        const auto ticks = m_firstWrite.load();
        if (!ticks)
            return std::nullopt;
        return Clock::time_point(Clock::duration(ticks));
    }

private:
    std::unique_ptr<audio::Output> m_inner;
    std::atomic<Clock::rep> m_firstWrite{0};
};

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        QThread::usleep(200);
    }
    return true;
}

void benchCost(const QString& song) {
    audio::Engine::instance().setOutput(nullptr);
    MP3Play::PlaySong(song);
    QThread::sleep(1); // past the start, when the server's buffer is first filled
    const auto [enginePercent, engineSwitches] = measure(getpid(), kPlaySeconds);
    const std::string output = audio::Engine::instance().outputName();
    MP3Play::StopAll();

    const pid_t player = spawnMpg123(song.toStdString());
    QThread::sleep(1);
    const auto [mpgPercent, mpgSwitches] = measure(player, kPlaySeconds);
    kill(player, SIGTERM);
    waitpid(player, nullptr, 0);

    const std::string span = std::to_string(kPlaySeconds) + " s of 192 kbit/s to " + output;
    row("engine CPU while playing (" + span + ")", format("%.3f %% of a core", enginePercent),
        "≤ 0.3 %");
    row("mpg123 -o pulse CPU (same file, same server)", format("%.3f %% of a core", mpgPercent),
        "reference");
    row("engine context switches while playing", format("%.1f /s", engineSwitches),
        "≤ " + format("%.1f /s", mpgSwitches / 4) + " (a quarter of mpg123's)");
    row("mpg123 -o pulse context switches", format("%.1f /s", mpgSwitches), "reference");
}

// CPU seconds of the whole process: the machine may be busy, so wall time would mislead.
double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

double bareDecodeSeconds(const std::string& song) {
    const double start = processCpuSeconds();
    mpg123_handle* handle = mpg123_new(nullptr, nullptr);
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0);
    mpg123_format_none(handle);
    mpg123_format(handle, 44100, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    mpg123_open(handle, song.c_str());
    std::vector<unsigned char> block(16 * 1024);
    for (;;) {
        std::size_t bytes = 0;
        const int result = mpg123_read(handle, block.data(), block.size(), &bytes);
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT)
            break;
    }
    mpg123_close(handle);
    mpg123_delete(handle);
    return processCpuSeconds() - start;
}

double engineDecodeSeconds(const std::string& song) {
    auto& engine = audio::Engine::instance();
    engine.setOutput(std::make_unique<StopwatchOutput>());
    audio::OpenStatus status{};
    const double start = processCpuSeconds();
    const auto id = engine.open(song, &status);
    engine.play(id);
    while (engine.playing())
        QThread::msleep(5);
    const double seconds = processCpuSeconds() - start;
    engine.close(id);
    return seconds;
}

void benchDecodeSpeed(const QString& song) {
    mpg123_init();
    double bare = 1e9;
    double viaEngine = 1e9;
    for (int i = 0; i < 5; ++i) {
        bare = std::min(bare, bareDecodeSeconds(song.toStdString()));
        viaEngine = std::min(viaEngine, engineDecodeSeconds(song.toStdString()));
    }
    row("decoding speed (CPU time) through the engine vs bare libmpg123",
        format("%.0f %%", 100 * bare / viaEngine) +
            format(" (%.0f× real time", kSongSeconds / viaEngine) +
            format(" vs %.0f×)", kSongSeconds / bare),
        "≥ 90 %");
}

void benchStartLatency(const QString& song) {
    auto stopwatch = std::make_unique<StopwatchOutput>(std::make_unique<audio::PulseOutput>());
    StopwatchOutput* watch = stopwatch.get();
    audio::Engine::instance().setOutput(std::move(stopwatch));
    std::vector<double> delays;
    for (int i = 0; i < 15; ++i) {
        watch->reset();
        const auto start = Clock::now();
        MP3Play::PlaySong(song);
        if (waitUntil([&] { return watch->firstWrite().has_value(); }, 5000))
            delays.push_back(msSince(start, *watch->firstWrite()));
    }
    MP3Play::StopAll();
    audio::Engine::instance().setOutput(nullptr);
    std::sort(delays.begin(), delays.end());
    row("PlaySong to first sample handed to the pulse output (median of 15)",
        delays.empty() ? "failed"
                       : format("%.1f ms", delays[delays.size() / 2]) +
                             format(" (max %.1f ms)", delays.back()),
        "< 20 ms");
}

// A pause or a stop timed two ways: how much sound the recording of the sink holds after the
// point it had reached at the click (where the sound ends, fade included), and the wall time
// until the call has returned and the recording shows 10 ms of silence after the tone (an
// upper bound, as it includes the recorder's own latency of 20 ms blocks).
struct ToSilence {
    double soundMs = -1;
    double waitMs = -1;
};

ToSilence toSilence(const MonitorRecorder& recorder, const QString& song, void (*silence)()) {
    constexpr long long kSilentFrames = PulseServer::kRateHz / 100;
    MP3Play::PlaySong(song);
    const bool sounding = waitUntil(
        [&] {
            const long long end = recorder.frames();
            return end > 2205 && rms(recorder.left(end - 2205, 2205)) > 5000;
        },
        5000);
    ToSilence timed;
    if (sounding) {
        QThread::msleep(500);
        const long long fromFrame = recorder.frames();
        const auto pausedAt = Clock::now();
        silence();
        long long soundFrames = 0;
        waitUntil(
            [&] {
                const auto samples = recorder.left(fromFrame, recorder.frames() - fromFrame);
                const auto loud = std::find_if(samples.rbegin(), samples.rend(),
                                               [](std::int16_t s) { return std::abs(s) > 300; });
                soundFrames = samples.rend() - loud;
                return loud - samples.rbegin() >= kSilentFrames;
            },
            2000);
        timed = {soundFrames * 1000.0 / PulseServer::kRateHz, msSince(pausedAt, Clock::now())};
    }
    MP3Play::StopAll();
    return timed;
}

std::string medianAndMax(std::vector<double> values) {
    if (values.empty())
        return "failed";
    std::sort(values.begin(), values.end());
    return format("%.1f ms", values[values.size() / 2]) + format(" (max %.1f ms)", values.back());
}

void benchSilenceLatency(const PulseServer& server, const QString& song) {
    audio::Engine::instance().setOutput(nullptr);
    MonitorRecorder recorder(server);
    const struct {
        const char* what;
        void (*silence)();
    } cases[] = {{"PauseSong", MP3Play::PauseSong}, {"stop (StopAll)", MP3Play::StopAll}};
    for (const auto& c : cases) {
        std::vector<double> sound;
        std::vector<double> waits;
        for (int i = 0; i < 9; ++i) {
            const ToSilence timed = toSilence(recorder, song, c.silence);
            if (timed.waitMs >= 0) {
                sound.push_back(timed.soundMs);
                waits.push_back(timed.waitMs);
            }
        }
        const std::string what = std::string(c.what) + ", 2 s buffer, median of 9: ";
        row(what + "sound recorded at the sink after the click, fade included", medianAndMax(sound),
            "≤ the cut's + 10 ms");
        row(what + "until the call returned and 10 ms of silence were recorded",
            medianAndMax(waits), "< 50 ms");
    }
}

// One play of a song that is silent for kLeadSeconds and then a tone to its end. Each time a
// block of the sink's recording lands (20 ms blocks), the engine's position is noted beside the
// frames recorded; the tone's onset in the recording ties the two together, and its last loud
// sample the song's end. Errors are position minus what the recording shows, and the time from
// the block holding the last sample until the song turned Stopped.
constexpr int kLeadSeconds = 1;

struct Sample {
    Clock::time_point at;
    long long recorded;
    long long heard;
};

struct PlayErrors {
    double positionMs; // the median of this play's samples
    double lowestMs;   // and its extremes
    double highestMs;
    double stopMs;
};

std::vector<Sample> samplePlay(const MonitorRecorder& recorder, const QString& song,
                               Clock::time_point* stoppedAt) {
    std::vector<Sample> samples;
    MP3Play::PlaySong(song);
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    std::optional<Clock::time_point> stopped;
    while (Clock::now() < deadline && (!stopped || Clock::now() < *stopped + 500ms)) {
        const long long recorded = recorder.frames();
        const auto stream = audio::Engine::instance().currentStream();
        const auto now = Clock::now();
        if (!stopped && stream && stream->mode == audio::StreamMode::Stopped)
            stopped = now;
        if (samples.empty() || recorded != samples.back().recorded)
            samples.push_back({now, recorded, stream ? stream->heardFrames : 0});
        QThread::usleep(200);
    }
    *stoppedAt = stopped.value_or(deadline);
    return samples;
}

std::optional<PlayErrors> positionPlay(const MonitorRecorder& recorder, const QString& song) {
    constexpr int kRate = PulseServer::kRateHz;
    const long long from = recorder.frames();
    Clock::time_point stoppedAt;
    const std::vector<Sample> samples = samplePlay(recorder, song, &stoppedAt);
    const auto sound = recorder.left(from, recorder.frames() - from);
    const auto isLoud = [](std::int16_t s) { return std::abs(s) > 3000; };
    const auto onset = std::find_if(sound.begin(), sound.end(), isLoud);
    const auto last = std::find_if(sound.rbegin(), sound.rend(), isLoud);
    if (onset == sound.end())
        return std::nullopt;
    const long long onsetAt = from + (onset - sound.begin());
    const long long endAt = from + (sound.rend() - last);
    std::vector<double> errors;
    std::optional<double> stopMs;
    for (const Sample& s : samples) {
        const long long truth = kLeadSeconds * kRate + (s.recorded - onsetAt);
        if (s.recorded > onsetAt && s.recorded <= endAt)
            errors.push_back(1000.0 * static_cast<double>(s.heard - truth) / kRate);
        if (!stopMs && s.recorded >= endAt)
            stopMs = msSince(s.at, stoppedAt);
    }
    if (errors.empty() || !stopMs)
        return std::nullopt;
    std::sort(errors.begin(), errors.end());
    return PlayErrors{errors[errors.size() / 2], errors.front(), errors.back(), *stopMs};
}

std::string medianAndWorst(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const auto worst = std::max_element(
        values.begin(), values.end(), [](double a, double b) { return std::abs(a) < std::abs(b); });
    return format("%+.1f ms median", values[values.size() / 2]) +
           format(", worst %+.1f ms", *worst);
}

void benchPosition(const PulseServer& server, const QString& song) {
    audio::Engine::instance().setOutput(nullptr);
    audio::Engine::instance().setBufferMs(audio::Engine::kDefaultBufferMs);
    // Once the recorder is connected the sink keeps its latency low: no play starts on a sink
    // that renders seconds ahead and then changes its mind.
    MonitorRecorder recorder(server);
    if (!recorder.waitForFrames(0, PulseServer::kRateHz / 10, 5000))
        return row("position told vs the tone's onset", "not run: the sink records nothing", "-");
    std::vector<double> positions;
    std::vector<double> stops;
    double lowest = 1e9;
    double highest = -1e9;
    for (int i = 0; i < 10; ++i) {
        if (const auto play = positionPlay(recorder, song)) {
            positions.push_back(play->positionMs);
            stops.push_back(play->stopMs);
            lowest = std::min(lowest, play->lowestMs);
            highest = std::max(highest, play->highestMs);
        }
        MP3Play::StopAll();
    }
    const std::string plays = " over " + std::to_string(positions.size()) + " of 10 plays";
    row("position told vs the tone's onset in a 20 ms recording of the sink, 2 s buffer",
        positions.empty()
            ? "failed"
            : medianAndWorst(positions) + plays + format("; every reading from %+.1f", lowest) +
                  format(" to %+.1f ms", highest),
        "within 50 ms");
    row("last sample in the recording of the sink to Stopped, 2 s buffer",
        stops.empty() ? "failed" : medianAndWorst(stops) + plays, "within 200 ms");
}

} // namespace

int main() {
    QTemporaryDir work;
    const QString wav = work.filePath("tone.wav");
    const QString song = work.filePath("tone 192k.mp3");
    const std::string make = "sox -n -r 44100 -c 2 -b 16 '" + wav.toStdString() + "' synth " +
                             std::to_string(kSongSeconds) + " sine 1000 vol 0.5 && " +
                             "lame --quiet -b 192 '" + wav.toStdString() + "' '" +
                             song.toStdString() + "'";
    if (std::system(make.c_str()) != 0) {
        row("playback benchmarks", "not run: sox or lame missing", "-");
        return 0;
    }
    PulseServer server;
    if (!server.running()) {
        row("playback benchmarks", "not run: pulseaudio did not start", "-");
        return 0;
    }
    server.exportAddress();
    benchCost(song);
    benchDecodeSpeed(song);
    benchStartLatency(song);
    benchSilenceLatency(server, song);
    const QString late = work.filePath("late tone.mp3");
    const std::string makeLate = "sox -n -r 44100 -c 2 -b 16 '" + wav.toStdString() +
                                 "' synth 3 sine 1000 vol 0.5 pad " + std::to_string(kLeadSeconds) +
                                 " 0 && lame --quiet -b 192 '" + wav.toStdString() + "' '" +
                                 late.toStdString() + "'";
    if (std::system(makeLate.c_str()) == 0)
        benchPosition(server, late);
    return 0;
}
