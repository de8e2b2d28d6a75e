#include "player/MP3Play.h"

#include "platform/audio/Engine.h"
#include "platform/audio/NullOutput.h"
#include "platform/mci/Mci.h"
#include "tests/platform/audio/PcmHelpers.h"
#include "tests/platform/audio/TestSongs.h"
#include "tests/support/Poll.h"
#include "tests/support/TempTree.h"
#include "tests/support/WavCapture.h"

#include <QDir>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Commands = std::vector<std::string>;

QString song(const char* name) {
    return QString::fromStdString(testSong(name));
}

// Records what MP3Play sends; answers 0 without playing anything.
class CommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        mci::setCommandRecorder([this](std::string_view command) {
            m_sent.emplace_back(command);
            return std::optional<std::uint32_t>(0);
        });
    }
    void TearDown() override { mci::setCommandRecorder({}); }

    static Commands playCommands(const std::string& element) {
        return {"stop mp3play", "close mp3play",
                "open " + element + " type mpegvideo alias mp3play", "play mp3play"};
    }

    Commands m_sent;
    TempTree m_tree;
};

// Long names full of spaces too: a 244-byte one, spaces escaped, would not fit the 255-character
// buffer, and so would name no file.
TEST_F(CommandsTest, PlaySongSendsStopCloseOpenPlayWithTheShortPath) {
    for (const QString& name :
         {QString("My Songs/first song.mp3"), QString("a b ").repeated(60) + ".mp3"}) {
        SCOPED_TRACE(name.toStdString());
        m_sent.clear();
        const QString path = m_tree.file(name, "x");
        MP3Play::PlaySong(path);
        char shortPath[255] = {};
        ASSERT_GT(GetShortPathNameA(path.toLocal8Bit().constData(), shortPath, 255), 0u);
        EXPECT_EQ(std::string(shortPath).find(' '), std::string::npos);
        EXPECT_EQ(m_sent, playCommands(shortPath));
    }
}

TEST_F(CommandsTest, PlaySongWithEmptyOrMissingPathOpensNoFile) {
    MP3Play::PlaySong("");
    MP3Play::PlaySong(m_tree.path("not there.mp3"));
    const Commands once = playCommands("");
    Commands twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(m_sent, twice);
    EXPECT_EQ(m_sent[2], "open  type mpegvideo alias mp3play");
}

TEST_F(CommandsTest, PauseResumeAndStopAllSendTheirCommands) {
    MP3Play::PauseSong();
    MP3Play::ResumeSong();
    MP3Play::StopAll();
    EXPECT_EQ(m_sent, (Commands{"pause mp3play", "resume mp3play", "stop mp3play", "close all"}));
}

class PlaybackTest : public ::testing::Test {
protected:
    void TearDown() override {
        MP3Play::StopAll();
        audio::Engine::instance().setOutput(nullptr);
    }
    TempTree m_tree;
};

TEST_F(PlaybackTest, SecondPlaySongLeavesOnlyTheSecondSong) {
    WavCapture wav(m_tree.path("take-"));
    wav->setFrameBudget(10000);
    MP3Play::PlaySong(song("tone440-stereo-44k"));
    ASSERT_TRUE(wav->waitForFrames(10000, 10s));
    MP3Play::PlaySong(song("tone880-stereo-44k"));
    wav->setFrameBudget(std::nullopt);
    ASSERT_TRUE(eventually([] { return !audio::Engine::instance().playing(); }));
    EXPECT_EQ(audio::Engine::instance().streamCount(), 1);

    const auto files = wav->files();
    ASSERT_EQ(files.size(), 2u);
    const auto first = readWav(files[0]).samples;
    const auto firstExpected = referenceDecode(testSong("tone440-stereo-44k")).samples;
    EXPECT_EQ(first.size(), 20000u); // nothing of the first song after the switch
    EXPECT_TRUE(std::equal(first.begin(), first.end(), firstExpected.begin()));
    EXPECT_TRUE(readWav(files[1]).samples ==
                referenceDecode(testSong("tone880-stereo-44k")).samples);
}

int countEntries(const char* folder) {
    return static_cast<int>(QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

TEST_F(PlaybackTest, ThousandPlaySongsLeaveOneSongAndNoLeaks) {
    audio::Engine::instance().setOutput(std::make_unique<audio::NullOutput>());
    const QString songs[] = {song("tone440-stereo-44k"), song("tone660-mono-22k-vbr")};
    for (int i = 0; i < 50; ++i) // let every lazily made resource exist first
        MP3Play::PlaySong(songs[i % 2]);
    const int threads = countEntries("/proc/self/task");
    const int descriptors = countEntries("/proc/self/fd");
    [[maybe_unused]] const long memory = residentKiB(); // read only without AddressSanitizer

    for (int i = 0; i < 1000; ++i)
        MP3Play::PlaySong(songs[i % 2]);

    EXPECT_EQ(audio::Engine::instance().streamCount(), 1);
    EXPECT_TRUE(audio::Engine::instance().playing());
    // A file is opened on a short-lived thread of its own, which may still be ending now.
    EXPECT_TRUE(eventually([&] { return countEntries("/proc/self/task") <= threads; }, 5000))
        << countEntries("/proc/self/task") << " threads, " << threads << " before";
    EXPECT_TRUE(eventually([&] { return countEntries("/proc/self/fd") <= descriptors; }, 5000))
        << countEntries("/proc/self/fd") << " descriptors, " << descriptors << " before";
#ifndef __SANITIZE_ADDRESS__ // its quarantine holds freed memory; its leak check runs instead
    EXPECT_LT(residentKiB() - memory, 8 * 1024);
#endif
    MP3Play::StopAll();
    EXPECT_EQ(audio::Engine::instance().streamCount(), 0);
    EXPECT_FALSE(audio::Engine::instance().playing());
}

} // namespace
