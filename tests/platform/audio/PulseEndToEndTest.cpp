#include "platform/audio/Engine.h"
#include "platform/audio/PulseOutput.h"
#include "platform/audio/WaveLine.h"
#include "platform/mci/Mci.h"
#include "platform/mixer/Backends.h"
#include "tests/platform/audio/PcmHelpers.h"
#include "tests/platform/audio/TestSongs.h"
#include "tests/support/Poll.h"
#include "tests/support/PulseServer.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <vector>

namespace {

constexpr int kRate = PulseServer::kRateHz;

std::uint32_t send(const std::string& command) {
    return mciSendStringA(command.c_str(), nullptr, 0, nullptr);
}

// Waits until the last 50 ms recorded pass the test; returns the frame where they end, or -1.
template <typename Test>
long long waitForWindow(const MonitorRecorder& recorder, long long from, Test test) {
    long long end = 0;
    const bool passed = eventually(
        [&] {
            end = recorder.frames();
            return end - from >= kRate / 20 && test(recorder.left(end - kRate / 20, kRate / 20));
        },
        5000, 10);
    return passed ? end : -1;
}

TEST(PulseEndToEndTest, ToneIsHeardAtTheSinkAndSilenceFollowsStop) {
    PulseServer server;
    ASSERT_TRUE(server.running());
    server.exportAddress();
    auto& engine = audio::Engine::instance();
    engine.setBufferMs(50);
    MonitorRecorder recorder(server);
    ASSERT_TRUE(recorder.waitForFrames(0, kRate / 10, 5000));

    char shortPath[255] = {};
    ASSERT_GT(GetShortPathNameA(testSong("tone1000-stereo-44k").c_str(), shortPath, 255), 0u);
    ASSERT_EQ(send(std::string("open ") + shortPath + " type mpegvideo alias e2e"), 0u);
    ASSERT_EQ(send("play e2e"), 0u);

    const long long toneAt =
        waitForWindow(recorder, 0, [](const auto& samples) { return rms(samples) > 5000; });
    ASSERT_GE(toneAt, 0) << "no tone reached the sink";
    EXPECT_EQ(engine.outputName(), "pulse");
    ASSERT_TRUE(recorder.waitForFrames(toneAt, kRate / 2, 5000));
    const auto tone = recorder.left(toneAt, kRate / 2);
    // A sine of half the full scale: RMS 0.5 * 32767 / sqrt(2).
    EXPECT_NEAR(rms(tone), 11585, 1200);
    EXPECT_NEAR(toneFrequencyHz(tone, kRate), 1000, 10);

    ASSERT_EQ(send("stop e2e"), 0u);
    const long long stoppedAt = recorder.frames();
    const long long silenceAt =
        waitForWindow(recorder, stoppedAt, [](const auto& samples) { return rms(samples) < 30; });
    EXPECT_GE(silenceAt, 0) << "still sounding after stop";
    ASSERT_TRUE(recorder.waitForFrames(silenceAt, kRate / 5, 5000));
    EXPECT_LT(rms(recorder.left(silenceAt, kRate / 5)), 30) << "sound came back after stop";

    EXPECT_EQ(send("close all"), 0u);
    recorder.stop();
}

// What the server holds unheard: a second written into a two-second buffer waits for the start
// threshold, all of it; a drop leaves none; after a drain at most the sink's own latency.
TEST(PulseEndToEndTest, OutputDelayIsWhatTheServerHoldsUnheard) {
    PulseServer server;
    ASSERT_TRUE(server.running());
    server.exportAddress();
    audio::PulseOutput output;
    ASSERT_TRUE(output.open({kRate, 2}, 2000));
    const std::vector<std::uint8_t> second(kRate * 4);
    ASSERT_EQ(output.write(second.data(), second.size()), long(second.size()));
    EXPECT_NEAR(output.delayFrames(), kRate, kRate / 10);
    output.drop();
    EXPECT_LT(output.delayFrames(), kRate / 10);
    output.write(second.data(), second.size() / 4);
    EXPECT_EQ(output.drain(), audio::Output::DrainResult::Drained);
    EXPECT_LT(output.delayFrames(), kRate / 10);
}

// Every way a tone stops or starts again, with two seconds queued at the server: the song is
// at -8 dB (the test songs' -6 dB and 2 dB less on the wave line), where a 1000 Hz tone's own
// largest step between two samples is 0.057 of full scale. A cut would step up to 0.4.
TEST(PulseEndToEndTest, PauseResumeStopAndSwitchFadeInsteadOfCutting) {
#ifdef __SANITIZE_THREAD__ // several times slower: a fall cannot reach the server in time
    GTEST_SKIP() << "a fall must reach the server within milliseconds";
#endif
    PulseServer server;
    ASSERT_TRUE(server.running());
    server.exportAddress();
    audio::Engine::instance().setBufferMs(audio::Engine::kDefaultBufferMs);
    waveline::setVolume(static_cast<std::uint16_t>(waveline::kMaxVolume * 0.794));
    MonitorRecorder recorder(server);
    ASSERT_TRUE(recorder.waitForFrames(0, kRate / 10, 5000));
    char shortPaths[2][255] = {};
    ASSERT_GT(GetShortPathNameA(testSong("tone1000-stereo-192k").c_str(), shortPaths[0], 255), 0u);
    ASSERT_GT(GetShortPathNameA(testSong("tone440-stereo-44k").c_str(), shortPaths[1], 255), 0u);
    ASSERT_EQ(send(std::string("open ") + shortPaths[0] + " type mpegvideo alias a"), 0u);
    ASSERT_EQ(send(std::string("open ") + shortPaths[1] + " type mpegvideo alias b"), 0u);

    const struct {
        std::vector<const char*> commands;
        bool heard;
    } steps[] = {{{"play a"}, true},   {{"pause a"}, false},
                 {{"resume a"}, true}, {{"stop a"}, false},
                 {{"play a"}, true},   {{"pause a"}, false},
                 {{"play b"}, true},   {{"stop b"}, false},
                 {{"play b"}, true},   {{"stop b", "close b"}, false}};
    for (const auto& step : steps) {
        for (const char* command : step.commands)
            ASSERT_EQ(send(command), 0u) << command;
        const long long end = waitForWindow(recorder, recorder.frames(), [&](const auto& s) {
            return step.heard ? rms(s) > 5000 : rms(s) < 30;
        });
        ASSERT_GE(end, 0) << step.commands.back();
        ASSERT_TRUE(recorder.waitForFrames(end, kRate / 5, 5000));
    }
    const auto heard = recorder.left(0, recorder.frames());
    int largestStep = 0;
    for (std::size_t i = 1; i < heard.size(); ++i)
        largestStep = std::max(largestStep, std::abs(heard[i] - heard[i - 1]));
    EXPECT_LT(largestStep, 0.08 * 32768);
    EXPECT_EQ(send("close all"), 0u);
    waveline::setVolume(waveline::kMaxVolume);
    recorder.stop();
}

// Plays a song with the player's commands and waits until the engine is done with it.
void playSongToEnd(const std::string& name) {
    char shortPath[255] = {};
    ASSERT_GT(GetShortPathNameA(testSong(name).c_str(), shortPath, 255), 0u);
    send("stop e2e");
    send("close e2e");
    ASSERT_EQ(send(std::string("open ") + shortPath + " type mpegvideo alias e2e"), 0u);
    ASSERT_EQ(send("play e2e"), 0u);
    eventually([] { return !audio::Engine::instance().playing(); });
}

TEST(PulseEndToEndTest, SongShorterThanTheServersStartThresholdIsHeardWholeAfterAnother) {
    PulseServer server;
    ASSERT_TRUE(server.running());
    server.exportAddress();
    audio::Engine::instance().setBufferMs(audio::Engine::kDefaultBufferMs);
    MonitorRecorder recorder(server);
    ASSERT_TRUE(recorder.waitForFrames(0, kRate / 10, 5000));

    playSongToEnd("tone990-stereo-44k-1s");
    const long long secondFrom = recorder.frames();
    playSongToEnd("tone770-stereo-44k-short"); // 0.3 s
    ASSERT_TRUE(recorder.waitForFrames(secondFrom, kRate, 5000));
    const auto isLoud = [](std::int16_t sample) { return std::abs(sample) > 3277; };
    const auto heard = recorder.left(secondFrom, recorder.frames() - secondFrom);
    const Pcm song = referenceDecode(testSong("tone770-stereo-44k-short"));
    long long expected = 0;
    for (std::size_t i = 0; i < song.samples.size(); i += 2)
        expected += isLoud(song.samples[i]);
    // The sink's monitor may miss some milliseconds where a stream starts.
    const auto loud = std::count_if(heard.begin(), heard.end(), isLoud);
    EXPECT_GE(loud, expected * 9 / 10);
    EXPECT_LE(loud, expected);
    EXPECT_EQ(send("close all"), 0u);
    recorder.stop();
}

TEST(PulseEndToEndTest, SongGoesOnThroughTheNextServerWhenItsServerGoesAway) {
    auto& engine = audio::Engine::instance();
    engine.setBufferMs(50);
    auto first = std::make_unique<PulseServer>();
    PulseServer second;
    ASSERT_TRUE(first->running() && second.running());
    // Clients try the servers in this order. Set before playing: the engine thread reads it.
    const QString both = first->address() + " " + second.address();
    setenv("PULSE_SERVER", both.toLocal8Bit().constData(), 1);
    MonitorRecorder atFirst(*first);
    MonitorRecorder atSecond(second);

    char shortPath[255] = {};
    ASSERT_GT(GetShortPathNameA(testSong("tone1000-stereo-192k").c_str(), shortPath, 255), 0u);
    ASSERT_EQ(send(std::string("open ") + shortPath + " type mpegvideo alias e2e"), 0u);
    ASSERT_EQ(send("play e2e"), 0u);
    EXPECT_GE(waitForWindow(atFirst, 0, [](const auto& s) { return rms(s) > 5000; }), 0);

    atFirst.stop();
    first.reset(); // the server goes away in the middle of the song
    EXPECT_GE(waitForWindow(atSecond, 0, [](const auto& s) { return rms(s) > 5000; }), 0)
        << "the song did not come back through the other server";
    EXPECT_EQ(engine.outputName(), "pulse");
    EXPECT_EQ(send("close all"), 0u);
}

// The wave line as the mixer's wave-out line shows it, on the private server `server`.
class WaveLineOnTheServer {
public:
    explicit WaveLineOnTheServer(const PulseServer& server)
        : m_mixer(mixer::connectPulseService(server.address().toLocal8Bit().constData(),
                                             std::chrono::milliseconds(2000))) {
        std::uint32_t line = 0;
        if (!m_mixer || m_mixer->open(0, &m_handle) != mixer::kNoError ||
            m_mixer->findLine(m_handle, mixer::ComponentType::WaveOut, &line) != mixer::kNoError)
            return;
        m_mixer->findControl(m_handle, line, mixer::ControlType::Volume, &m_volume);
        m_mixer->findControl(m_handle, line, mixer::ControlType::Mute, &m_mute);
    }
    bool ready() const { return m_volume.controlId != 0 && m_mute.controlId != 0; }
    std::int32_t volume() { return read(m_volume); }
    std::int32_t mute() { return read(m_mute); }
    void setVolume(std::int32_t value) { m_mixer->setValue(m_handle, m_volume.controlId, value); }

private:
    std::int32_t read(const mixer::ControlInfo& control) {
        std::int32_t value = -1;
        m_mixer->getValue(m_handle, control.controlId, &value);
        return value;
    }

    std::unique_ptr<mixer::Service> m_mixer;
    mixer::Handle m_handle = 0;
    mixer::ControlInfo m_volume;
    mixer::ControlInfo m_mute;
};

// Plays the long test song as `alias` and waits for its stream to play on the server, one
// that is not `previous`, and to hold `settled` (PipeWire's pulse server shows a new stream at
// its norm until the player has set it), or the wait to run out.
template <typename Settled>
std::optional<PulseServer::SinkInput> playLongSong(const PulseServer& server, const char* alias,
                                                   int previous, Settled settled) {
    char shortPath[255] = {};
    if (GetShortPathNameA(testSong("tone1000-stereo-192k").c_str(), shortPath, 255) == 0 ||
        send(std::string("open ") + shortPath + " type mpegvideo alias " + alias) != 0 ||
        send(std::string("play ") + alias) != 0)
        return std::nullopt;
    std::optional<PulseServer::SinkInput> found;
    eventually([&] {
        for (const auto& input : server.sinkInputs())
            if (input.index != previous && !input.corked)
                found = input;
        return found && settled(*found);
    });
    return found;
}

} // namespace

// The desktop's mixer sets this program's stream to 50 % (the line's 8192, read as 13 on the
// control's scale) and mutes it; the line follows, and so does the next song's stream. The
// server's norm is 65536; the line is linear, the server's scale cubic.
TEST(PulseEndToEndTest, WaveLineIsThePlayingStreamAsTheServerHoldsIt) {
    PulseServer server;
    ASSERT_TRUE(server.running());
    server.exportAddress();
    audio::Engine::instance().setBufferMs(50);
    waveline::setVolume(waveline::kMaxVolume);
    waveline::setMuted(false);
    WaveLineOnTheServer line(server);
    ASSERT_TRUE(line.ready());

    const auto first = playLongSong(server, "first", -1, [](auto& s) { return s.volume > 0; });
    ASSERT_TRUE(first);
    EXPECT_EQ(first->volume, 65536u);
    const QString index = QString::number(first->index);
    ASSERT_TRUE(server.pactl({"set-sink-input-volume", index, "32768"}));
    ASSERT_TRUE(server.pactl({"set-sink-input-mute", index, "1"}));
    // The server tells of the change; the line takes it up without being asked.
    eventually([&] { return line.volume() == 8192 && line.mute() == 1; });
    EXPECT_EQ(line.volume(), 8192);
    EXPECT_EQ(line.mute(), 1);

    ASSERT_EQ(send("close first"), 0u);
    const auto second = playLongSong(server, "second", first->index,
                                     [](auto& s) { return s.volume == 32768u && s.muted; });
    ASSERT_TRUE(second);
    EXPECT_EQ(second->volume, 32768u);
    EXPECT_TRUE(second->muted);

    // Changed again while no one reads the line: the stream is read back as it closes.
    ASSERT_TRUE(server.pactl({"set-sink-input-volume", QString::number(second->index), "16384"}));
    ASSERT_EQ(send("close second"), 0u);
    const auto third =
        playLongSong(server, "third", second->index, [](auto& s) { return s.volume == 16384u; });
    ASSERT_TRUE(third);
    EXPECT_EQ(third->volume, 16384u);

    // A change of the line wins over what the stream held before it arrived there.
    line.setVolume(waveline::kMaxVolume);
    EXPECT_EQ(line.volume(), waveline::kMaxVolume);
    eventually([&] { return server.sinkInputs().front().volume == 65536u; });
    EXPECT_EQ(server.sinkInputs().front().volume, 65536u);
    EXPECT_EQ(line.volume(), waveline::kMaxVolume);

    EXPECT_EQ(send("close all"), 0u);
    waveline::setMuted(false);
}
