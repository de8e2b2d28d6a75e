#include "platform/audio/Engine.h"
#include "platform/audio/WaveLine.h"
#include "tests/platform/audio/PcmHelpers.h"
#include "tests/platform/audio/TestSongs.h"
#include "tests/support/Poll.h"
#include "tests/support/TempTree.h"
#include "tests/support/WavCapture.h"

#include <gtest/gtest.h>

using audio::Engine;
using audio::StreamMode;

namespace {

class EngineTest : public ::testing::Test {
protected:
    void TearDown() override {
        engine().closeAll();
        waveline::setVolume(waveline::kMaxVolume);
        waveline::setMuted(false);
    }

    static Engine& engine() { return Engine::instance(); }

    audio::StreamId openSong(const std::string& name) {
        audio::OpenStatus status{};
        const auto id = engine().open(testSong(name), &status);
        EXPECT_NE(id, 0) << name;
        return id;
    }

    // Plays a song to its end and returns what the output wrote for it.
    Pcm playToEnd(const std::string& name) {
        const auto id = openSong(name);
        engine().play(id);
        EXPECT_TRUE(eventually([&] { return engine().mode(id) == StreamMode::Stopped; }));
        engine().close(id);
        return readWav(m_output->files().back());
    }

    TempTree m_tree;
    WavCapture m_output{m_tree.path("take-")};
};

TEST_F(EngineTest, EveryShapeOfSongReachesTheOutputSampleForSample) {
    // One output for all songs: the format (rate, channels) changes from one song to the next,
    // and inside the last three, each of whose parts goes to a WAV file of its own. mpg123's
    // WAV holds what follows a file's last change.
    for (const char* name :
         {"tone440-stereo-44k", "tone660-mono-22k-vbr", "tone330-mono-8k", "tone550-stereo-48k-id3",
          "tone880-stereo-44k", "format-change-44k-stereo-22k-mono",
          "format-change-44k-mono-stereo", "format-change-44k-stereo-mono"}) {
        SCOPED_TRACE(name);
        const Pcm expected = referenceDecode(testSong(name));
        const Pcm expectedLast = mpg123Decode(testSong(name), m_tree.path("mpg123.wav"));
        ASSERT_FALSE(expected.samples.empty());
        const auto before = m_output->files().size();
        const Pcm last = playToEnd(name);
        Pcm played = readWav(m_output->files()[before]);
        for (auto file = before + 1; file < m_output->files().size(); ++file) {
            const Pcm part = readWav(m_output->files()[file]);
            played.samples.insert(played.samples.end(), part.samples.begin(), part.samples.end());
        }
        EXPECT_EQ(played.rateHz, expected.rateHz);
        EXPECT_EQ(played.channels, expected.channels);
        EXPECT_EQ(played.samples.size(), expected.samples.size());
        EXPECT_TRUE(played.samples == expected.samples);
        EXPECT_EQ(std::tie(last.rateHz, last.channels),
                  std::tie(expectedLast.rateHz, expectedLast.channels));
        EXPECT_TRUE(last.samples == expectedLast.samples);
    }
}

TEST_F(EngineTest, GaplessDecodingDropsTheEncoderDelayAndPadding) {
    // Made from exactly 3 s of sound at 44.1 kHz stereo.
    EXPECT_EQ(playToEnd("tone440-stereo-44k").samples.size(), 3u * 44100 * 2);
}

TEST_F(EngineTest, PauseHoldsTheExactSampleAndResumeGoesOnFromIt) {
    const Pcm expected = referenceDecode(testSong("tone440-stereo-44k"));
    m_output->setFrameBudget(30001); // an odd place, in the middle of a decoded block
    const auto id = openSong("tone440-stereo-44k");
    engine().play(id);
    ASSERT_TRUE(m_output->waitForFrames(30001, std::chrono::seconds(10)));
    engine().pause(id);
    EXPECT_EQ(engine().mode(id), StreamMode::Paused);

    m_output->setFrameBudget(std::nullopt);
    EXPECT_FALSE(m_output->waitForFrames(30002, std::chrono::milliseconds(300)));
    EXPECT_EQ(engine().mode(id), StreamMode::Paused);

    engine().resume(id);
    ASSERT_TRUE(eventually([&] { return engine().mode(id) == StreamMode::Stopped; }));
    engine().close(id);
    const Pcm played = readWav(m_output->files().back());
    EXPECT_EQ(played.samples.size(), expected.samples.size());
    EXPECT_TRUE(played.samples == expected.samples);
}

TEST_F(EngineTest, StopSilencesAndPlayGoesOnWithoutStartingOver) {
    m_output->setFrameBudget(20000);
    const auto id = openSong("tone440-stereo-44k");
    engine().play(id);
    ASSERT_TRUE(m_output->waitForFrames(20000, std::chrono::seconds(10)));
    engine().stop(id);
    EXPECT_EQ(engine().mode(id), StreamMode::Stopped);
    m_output->setFrameBudget(std::nullopt);
    EXPECT_FALSE(m_output->waitForFrames(20001, std::chrono::milliseconds(200)));

    engine().play(id);
    ASSERT_TRUE(eventually([&] { return engine().mode(id) == StreamMode::Stopped; }));
    const long long total = m_output->framesWritten();
    EXPECT_GT(total, 20000);
    EXPECT_LE(total, 3 * 44100); // went on, did not start again from the beginning
}

TEST_F(EngineTest, ASongThatEndedStaysOpenAtItsEnd) {
    const auto id = openSong("tone330-mono-8k");
    engine().play(id);
    ASSERT_TRUE(eventually([&] { return engine().mode(id) == StreamMode::Stopped; }));
    const long long frames = m_output->framesWritten();
    EXPECT_EQ(engine().streamCount(), 1);
    engine().play(id); // at its end: nothing more sounds
    EXPECT_FALSE(m_output->waitForFrames(frames + 1, std::chrono::milliseconds(200)));
    EXPECT_EQ(engine().close(id), audio::CommandResult::Done);
    EXPECT_EQ(engine().streamCount(), 0);
    EXPECT_EQ(engine().play(id), audio::CommandResult::UnknownStream);
}

TEST_F(EngineTest, WaveLineVolumeAndMuteScaleWhatPlays) {
    const Pcm expected = referenceDecode(testSong("tone880-stereo-44k"));
    waveline::setVolume(32768); // set while nothing plays: holds for the next song
    m_output->setFrameBudget(10000);
    const auto id = openSong("tone880-stereo-44k");
    engine().play(id);
    ASSERT_TRUE(m_output->waitForFrames(10000, std::chrono::seconds(10)));
    waveline::setMuted(true); // a change while playing applies to what is written next
    m_output->setFrameBudget(std::nullopt);
    ASSERT_TRUE(eventually([&] { return engine().mode(id) == StreamMode::Stopped; }));
    const Pcm played = readWav(m_output->files().back());
    ASSERT_EQ(played.samples.size(), expected.samples.size());
    for (std::size_t i = 0; i < 20000; ++i)
        ASSERT_EQ(played.samples[i], expected.samples[i] * 32768 / 65535) << i;
    for (std::size_t i = 20000; i < played.samples.size(); ++i)
        ASSERT_EQ(played.samples[i], 0) << i;
    EXPECT_EQ(waveline::volume(), 32768);
    EXPECT_TRUE(waveline::muted());
}

} // namespace
