#include "platform/audio/Engine.h"
#include "platform/mci/Mci.h"
#include "tests/platform/audio/PcmHelpers.h"
#include "tests/platform/audio/TestSongs.h"
#include "tests/support/Poll.h"
#include "tests/support/TempTree.h"
#include "tests/support/WavCapture.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

std::uint32_t send(const std::string& command) {
    return mciSendStringA(command.c_str(), nullptr, 0, nullptr);
}

std::string shortOf(const std::string& path) {
    char buffer[512] = {};
    return GetShortPathNameA(path.c_str(), buffer, sizeof buffer) ? buffer : "";
}

class InterpreterTest : public ::testing::Test {
protected:
    void TearDown() override { send("close all"); }

    static int openDevices() { return audio::Engine::instance().streamCount(); }
    static bool sounding() { return audio::Engine::instance().playing(); }

    // Frames taken by the output within a short while: 0 when nothing sounds.
    long long framesWithin(std::chrono::milliseconds time) {
        const long long before = m_output->framesWritten();
        m_output->waitForFrames(before + 1, time);
        return m_output->framesWritten() - before;
    }

    TempTree m_tree;
    WavCapture m_output{m_tree.path("take-")};
};

TEST_F(InterpreterTest, EachVerbDrivesItsDevice) {
    m_output->setFrameBudget(10000);
    const std::string song = shortOf(testSong("tone440-stereo-44k"));
    ASSERT_EQ(send("open " + song + " type mpegvideo alias mp3play"), 0u);
    EXPECT_EQ(openDevices(), 1);
    EXPECT_FALSE(sounding()); // open alone plays nothing

    ASSERT_EQ(send("play mp3play"), 0u); // returns while the song plays on
    EXPECT_TRUE(sounding());
    ASSERT_TRUE(m_output->waitForFrames(10000, 10s));

    EXPECT_EQ(send("pause mp3play"), 0u);
    m_output->setFrameBudget(20000);
    EXPECT_FALSE(m_output->waitForFrames(10001, 200ms));
    EXPECT_EQ(send("resume mp3play"), 0u);
    EXPECT_TRUE(m_output->waitForFrames(20000, 5s));

    EXPECT_EQ(send("stop mp3play"), 0u);
    m_output->setFrameBudget(std::nullopt);
    EXPECT_FALSE(sounding());
    EXPECT_EQ(framesWithin(200ms), 0);

    EXPECT_EQ(send("close mp3play"), 0u);
    EXPECT_EQ(openDevices(), 0);
    EXPECT_EQ(send("play mp3play"), MCIERR_INVALID_DEVICE_NAME);
}

TEST_F(InterpreterTest, VerbsKeywordsAndAliasesIgnoreCase) {
    m_output->setFrameBudget(1000); // holds the song in the middle
    const std::string song = shortOf(testSong("tone330-mono-8k"));
    ASSERT_EQ(send("OPEN " + song + " TYPE MpegVideo ALIAS Song"), 0u);
    EXPECT_EQ(send("Play SONG"), 0u);
    EXPECT_TRUE(sounding());
    EXPECT_EQ(send("PAUSE song"), 0u);
    EXPECT_FALSE(sounding());
    EXPECT_EQ(send("rEsUmE sOnG"), 0u);
    EXPECT_EQ(send("STOP song"), 0u);
    EXPECT_EQ(send("Close ALL"), 0u);
    EXPECT_EQ(openDevices(), 0);
}

TEST_F(InterpreterTest, CloseAllClosesEveryDevice) {
    for (const char* alias : {"one", "two", "three"})
        ASSERT_EQ(
            send("open " + shortOf(testSong("tone330-mono-8k")) + " type mpegvideo alias " + alias),
            0u);
    ASSERT_EQ(send("play two"), 0u);
    EXPECT_EQ(openDevices(), 3);
    EXPECT_EQ(send("close all"), 0u);
    EXPECT_EQ(openDevices(), 0);
    EXPECT_FALSE(sounding());
    EXPECT_EQ(send("close all"), 0u); // nothing open: still fine
}

TEST_F(InterpreterTest, ErrorsAreDistinctAndChangeNothing) {
    const std::string song = shortOf(testSong("tone440-stereo-44k"));
    const std::string other = shortOf(testSong("tone880-stereo-44k"));
    const std::string text =
        shortOf(m_tree.file("notes.mp3", "plain text, no frames").toStdString());
    ASSERT_EQ(send("open " + song + " type mpegvideo alias mp3play"), 0u);
    m_output->setFrameBudget(5000);
    ASSERT_EQ(send("play mp3play"), 0u);
    ASSERT_TRUE(m_output->waitForFrames(5000, 10s));

    const std::vector<std::pair<std::string, std::uint32_t>> cases = {
        {"open " + other + " type mpegvideo alias MP3PLAY", MCIERR_DUPLICATE_ALIAS},
        {"stop nothing", MCIERR_INVALID_DEVICE_NAME},
        {"rewind mp3play", MCIERR_UNRECOGNIZED_COMMAND},
        {"open " + m_tree.path("missing.mp3").toStdString() + " type mpegvideo alias b",
         MCIERR_FILE_NOT_FOUND},
        {"open " + text + " type mpegvideo alias b", MCIERR_INVALID_FILE},
        {"open  type mpegvideo alias b", MCIERR_MISSING_PARAMETER},
        {"open " + other + " type waveaudio alias b", MCIERR_CANNOT_LOAD_DRIVER},
        {"open " + other + " type mpegvideo alias b wait", MCIERR_UNRECOGNIZED_KEYWORD},
        {"play", MCIERR_MISSING_PARAMETER},
        {"   ", MCIERR_MISSING_COMMAND_STRING},
    };
    for (const auto& [command, error] : cases) {
        SCOPED_TRACE(command);
        EXPECT_EQ(send(command), error);
        EXPECT_EQ(openDevices(), 1);
        EXPECT_TRUE(sounding());
    }

    // The first song is the one that still plays, from where it was, to its end.
    m_output->setFrameBudget(std::nullopt);
    ASSERT_TRUE(eventually([] { return !sounding(); }));
    EXPECT_TRUE(readWav(m_output->files().back()).samples ==
                referenceDecode(testSong("tone440-stereo-44k")).samples);
}

TEST_F(InterpreterTest, ReturnStringIsEmptiedAndNullCommandIsRefused) {
    char answer[16] = "stale";
    EXPECT_EQ(mciSendStringA("close all", answer, sizeof answer, nullptr), 0u);
    EXPECT_STREQ(answer, "");
    EXPECT_EQ(mciSendStringA(nullptr, nullptr, 0, nullptr), MCIERR_MISSING_COMMAND_STRING);
}

TEST_F(InterpreterTest, RecorderSeesEveryCommandAndMayAnswerInstead) {
    std::vector<std::string> seen;
    mci::setCommandRecorder([&](std::string_view command) -> std::optional<std::uint32_t> {
        seen.emplace_back(command);
        if (command.starts_with("open"))
            return 42; // answered here: nothing is opened
        return std::nullopt;
    });
    EXPECT_EQ(send("open " + shortOf(testSong("tone330-mono-8k")) + " type mpegvideo alias a"),
              42u);
    EXPECT_EQ(send("play a"), MCIERR_INVALID_DEVICE_NAME); // passed on to the interpreter
    mci::setCommandRecorder({});
    EXPECT_EQ(send("close all"), 0u);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1], "play a");
    EXPECT_EQ(openDevices(), 0);
}

} // namespace
