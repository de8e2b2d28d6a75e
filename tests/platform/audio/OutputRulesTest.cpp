#include "platform/audio/Engine.h"
#include "platform/mci/Mci.h"
#include "tests/platform/audio/FakeOutput.h"
#include "tests/platform/audio/PcmHelpers.h"
#include "tests/platform/audio/TestSongs.h"

#include <gtest/gtest.h>

using audio::Engine;

namespace {

std::uint32_t send(const std::string& command) {
    return mciSendStringA(command.c_str(), nullptr, 0, nullptr);
}

// The commands the player sends for a song, then a wait for its end.
void playSongToEnd(const std::string& name) {
    char shortPath[255] = {};
    ASSERT_GT(GetShortPathNameA(testSong(name).c_str(), shortPath, 255), 0u) << name;
    send("stop mp3play");
    send("close mp3play");
    ASSERT_EQ(send(std::string("open ") + shortPath + " type mpegvideo alias mp3play"), 0u);
    ASSERT_EQ(send("play mp3play"), 0u);
    ASSERT_TRUE(waitUntil([] { return !Engine::instance().playing(); })) << name;
}

long long referenceSamples(const std::string& name) {
    return static_cast<long long>(referenceDecode(testSong(name)).samples.size());
}

TEST(SongsHeardWholeTest, everySampleOfASongAfterAnotherIsHeard) {
    // The fake holds back what is written below its start threshold (1.5 s of the engine's
    // default 2 s buffer), as a sound server does.
    const std::pair<const char*, const char*> cases[] = {
        {"tone440-stereo-44k", "tone770-stereo-44k-short"},
        {"tone440-stereo-44k", "tone990-stereo-44k-1s"},
        {"tone770-stereo-44k-short", "tone770-stereo-44k-short"},
        {"tone330-mono-8k", "format-change-44k-stereo-22k-mono"},
    };
    for (const auto& [first, second] : cases) {
        SCOPED_TRACE(std::string(first) + " then " + second);
        auto output = std::make_unique<FakeOutput>("fake");
        FakeOutput* fake = output.get();
        Engine::instance().setOutput(std::move(output));
        playSongToEnd(first);
        EXPECT_EQ(fake->samplesHeard(), referenceSamples(first));
        const long long before = fake->samplesHeard();
        playSongToEnd(second);
        EXPECT_EQ(fake->samplesHeard() - before, referenceSamples(second));
        send("close all");
    }
    Engine::instance().setOutput(nullptr);
}

TEST(CommandWaitTest, aCommandTheEngineCannotTakeUpFailsInTimeAndNeverRuns) {
    auto output = std::make_unique<FakeOutput>("stuck");
    FakeOutput* stuck = output.get();
    Engine::instance().setOutput(std::move(output));
    char shortPath[255] = {};
    ASSERT_GT(GetShortPathNameA(testSong("tone440-stereo-44k").c_str(), shortPath, 255), 0u);
    ASSERT_EQ(send(std::string("open ") + shortPath + " type mpegvideo alias mp3play"), 0u);
    stuck->hang(true);
    ASSERT_EQ(send("play mp3play"), 0u);
    ASSERT_TRUE(stuck->waitUntilHanging());

    for (const char* command : {"pause mp3play", "close all"})
        EXPECT_EQ(send(command), MCIERR_DEVICE_NOT_READY) << command;
    stuck->hang(false);
    ASSERT_TRUE(waitUntil([] { return !Engine::instance().playing(); }));
    EXPECT_EQ(stuck->framesWritten(), 3 * 44100) << "a withdrawn pause or stop ran";
    EXPECT_EQ(send("close mp3play"), 0u) << "a withdrawn close ran";
    Engine::instance().setOutput(nullptr);
}

} // namespace
