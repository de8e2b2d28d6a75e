#include "platform/audio/Engine.h"
#include "platform/mci/Mci.h"
#include "tests/platform/audio/PcmHelpers.h"
#include "tests/platform/audio/TestSongs.h"
#include "tests/support/PulseServer.h"

#include <QThread>
#include <chrono>
#include <gtest/gtest.h>

namespace {

constexpr int kRate = PulseServer::kRateHz;

std::uint32_t send(const std::string& command) {
    return mciSendStringA(command.c_str(), nullptr, 0, nullptr);
}

// Waits until the last 50 ms recorded pass the test; returns the frame where they end, or -1.
template <typename Test>
long long waitForWindow(const MonitorRecorder& recorder, long long from, Test test) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        const long long end = recorder.frames();
        if (end - from >= kRate / 20 && test(recorder.left(end - kRate / 20, kRate / 20)))
            return end;
        QThread::msleep(10);
    }
    return -1;
}

TEST(PulseEndToEndTest, toneIsHeardAtTheSinkAndSilenceFollowsStop) {
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

// Plays a song with the player's commands and waits until the engine is done with it.
void playSongToEnd(const std::string& name) {
    char shortPath[255] = {};
    ASSERT_GT(GetShortPathNameA(testSong(name).c_str(), shortPath, 255), 0u);
    send("stop e2e");
    send("close e2e");
    ASSERT_EQ(send(std::string("open ") + shortPath + " type mpegvideo alias e2e"), 0u);
    ASSERT_EQ(send("play e2e"), 0u);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (audio::Engine::instance().playing() && std::chrono::steady_clock::now() < deadline)
        QThread::msleep(10);
}

TEST(PulseEndToEndTest, songShorterThanTheServersStartThresholdIsHeardWholeAfterAnother) {
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

TEST(PulseEndToEndTest, songGoesOnThroughTheNextServerWhenItsServerGoesAway) {
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

} // namespace
