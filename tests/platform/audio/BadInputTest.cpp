#include "platform/audio/Engine.h"
#include "platform/mci/Mci.h"
#include "tests/platform/audio/BlockingFile.h"
#include "tests/platform/audio/ManualClock.h"
#include "tests/platform/audio/PcmHelpers.h"
#include "tests/platform/audio/TestSongs.h"
#include "tests/support/Poll.h"
#include "tests/support/TempTree.h"
#include "tests/support/WavCapture.h"

#include <QFile>
#include <future>
#include <gtest/gtest.h>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::uint32_t send(const std::string& command) {
    return mciSendStringA(command.c_str(), nullptr, 0, nullptr);
}

std::string shortPath(const QString& path) {
    char buffer[255] = {};
    const DWORD length = GetShortPathNameA(path.toLocal8Bit().constData(), buffer, 255);
    return length < 255 ? std::string(buffer, length) : std::string();
}

// Every case ends the same way: whatever happened, a good song plays next, to its end.
class BadInputTest : public ::testing::Test {
protected:
    void TearDown() override {
        send("close all");
        audio::Engine::instance().setDecoderFactory(nullptr);
        audio::Engine::instance().setClock(nullptr);
    }

    // Opens and plays a file the way the player does; returns the open command's result and,
    // when it opened, waits for the song to end (a hang fails here).
    std::uint32_t playFile(const QString& path, int timeoutMs = kPatienceMs) {
        send("close mp3play");
        const std::uint32_t result =
            send("open " + shortPath(path) + " type mpegvideo alias mp3play");
        send("play mp3play");
        if (result == 0) {
            EXPECT_TRUE(eventually([] { return !audio::Engine::instance().playing(); }, timeoutMs))
                << path.toStdString();
        }
        return result;
    }

    void expectGoodSongPlaysNext() {
        const std::string song = testSong("tone330-mono-8k");
        const long long before = m_output->framesWritten();
        ASSERT_EQ(playFile(QString::fromStdString(song)), 0u);
        EXPECT_EQ(m_output->framesWritten() - before, referenceDecode(song).samples.size());
    }

    QString songBytes(const QString& name, qsizetype keep = -1) {
        QFile song(QString::fromStdString(testSong("tone440-stereo-44k")));
        song.open(QIODevice::ReadOnly);
        const QByteArray bytes = song.readAll();
        return m_tree.file(name, keep < 0 ? bytes : bytes.left(keep));
    }

    TempTree m_tree;
    WavCapture m_output{m_tree.path("take-")};
};

TEST_F(BadInputTest, ZeroByteFileIsNotPlayable) {
    EXPECT_EQ(playFile(m_tree.file("empty.mp3")), MCIERR_INVALID_FILE);
    EXPECT_EQ(m_output->framesWritten(), 0);
    expectGoodSongPlaysNext();
}

TEST_F(BadInputTest, TruncatedFilePlaysItsWholeFramesAndEnds) {
    ASSERT_EQ(playFile(songBytes("half.mp3", 24000)), 0u);
    EXPECT_GT(m_output->framesWritten(), 44100);
    EXPECT_LT(m_output->framesWritten(), 2 * 44100);
    expectGoodSongPlaysNext();
}

TEST_F(BadInputTest, TextOrRandomBytesPlayNothingOrEndWithoutHanging) {
    QByteArray text;
    for (int i = 0; i < 2000; ++i)
        text += "This is a letter, not a song. ";
    std::mt19937 random(7);
    QByteArray noise(256 * 1024, '\0');
    for (auto& byte : noise)
        byte = static_cast<char>(random());
    for (const auto& [name, bytes] : {std::pair{"letter.mp3", text}, {"noise.mp3", noise}}) {
        SCOPED_TRACE(name);
        const auto result = playFile(m_tree.file(name, bytes));
        EXPECT_TRUE(result == 0 || result == MCIERR_INVALID_FILE) << result;
    }
    expectGoodSongPlaysNext();
}

TEST_F(BadInputTest, DamagedSongsEndWithinTheirLengthAndASecond) {
    // A damaged frame can change the format for a moment (a mono song turns stereo, odd samples
    // left over): each file still ends in time, and the engine is idle afterwards.
    const QByteArray song = readAll(QString::fromStdString(testSong("tone660-mono-22k-vbr")));
    std::mt19937 random(19);
    for (int file = 0; file < 10; ++file) {
        QByteArray bytes = song;
        for (int hit = 0; hit < 12; ++hit) {
            const auto at = random() % static_cast<std::size_t>(bytes.size());
            bytes[static_cast<qsizetype>(at)] = static_cast<char>(random());
        }
        const int lengthAndASecondMs = 2000 + 1000;
        const auto result =
            playFile(m_tree.file(QString("damaged%1.mp3").arg(file), bytes), lengthAndASecondMs);
        EXPECT_TRUE(result == 0 || result == MCIERR_INVALID_FILE) << result;
    }
    expectGoodSongPlaysNext();
}

long peakMemoryKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST_F(BadInputTest, HugeId3TagIsSkippedUnreadAndTheSongPlaysWhole) {
    QFile song(QString::fromStdString(testSong("tone440-stereo-44k")));
    song.open(QIODevice::ReadOnly);
    const QByteArray frames = song.readAll();
    for (const int tagBytes : {5 << 20, 200 << 20}) {
        SCOPED_TRACE(tagBytes);
        QByteArray header("ID3\x03\x00\x00", 6);
        for (int shift : {21, 14, 7, 0}) // synch-safe size
            header += static_cast<char>((tagBytes >> shift) & 0x7f);
        QFile tagged(m_tree.path(QString("tagged-%1.mp3").arg(tagBytes)));
        ASSERT_TRUE(tagged.open(QIODevice::WriteOnly));
        tagged.write(header);
        tagged.seek(header.size() + tagBytes); // the tag's body: a hole, no disk space
        tagged.write(frames);
        tagged.close();

        const long long before = m_output->framesWritten();
        const long peakBefore = peakMemoryKb();
        ASSERT_EQ(playFile(tagged.fileName()), 0u);
        EXPECT_LT(peakMemoryKb() - peakBefore, 32 * 1024) << "the tag was read into memory";
        EXPECT_EQ(m_output->framesWritten() - before, 3 * 44100);
    }
    expectGoodSongPlaysNext();
}

TEST_F(BadInputTest, FileWhoseReadsBlockFailsInTimeAndIsLetGoOfLater) {
    const QString path = songBytes("hung.mp3");
    BlockingFile hung(path);
    audio::Engine::instance().setDecoderFactory(hung.factory());
    const auto clock = std::make_shared<ManualClock>();
    audio::Engine::instance().setClock(clock);

    auto opened = std::async(std::launch::async, [&] {
        return send("open " + shortPath(path) + " type mpegvideo alias mp3play");
    });
    if (eventually([&] { return hung.heldOpen() && clock->waiters() == 1; }))
        clock->advance(audio::Engine::kOpenWait);
    if (opened.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        hung.release();
        FAIL() << "open waited for the file's reads";
    }
    EXPECT_EQ(opened.get(), MCIERR_DEVICE_NOT_READY);
    EXPECT_EQ(send("play mp3play"), MCIERR_INVALID_DEVICE_NAME);
    EXPECT_EQ(audio::Engine::instance().streamCount(), 0);
    EXPECT_TRUE(hung.heldOpen());
    expectGoodSongPlaysNext(); // while the reads still block

    hung.release();
    EXPECT_TRUE(eventually([&] { return !hung.heldOpen(); }));
    EXPECT_EQ(audio::Engine::instance().streamCount(), 1); // the good song only
}

TEST_F(BadInputTest, FolderOrPipeNamedLikeASongIsNotFound) {
    EXPECT_EQ(playFile(m_tree.folder("x.mp3")), MCIERR_FILE_NOT_FOUND);
    const QString pipe = m_tree.path("pipe.mp3");
    ASSERT_EQ(mkfifo(pipe.toLocal8Bit().constData(), 0600), 0);
    EXPECT_EQ(playFile(pipe), MCIERR_FILE_NOT_FOUND); // and does not wait for a writer
    expectGoodSongPlaysNext();
}

TEST_F(BadInputTest, UnreadableFileIsNotFound) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every file (tests/isolated.sh runs this program as nobody)";
    const QString path = songBytes("secret.mp3");
    chmod(path.toLocal8Bit().constData(), 0);
    EXPECT_EQ(playFile(path), MCIERR_FILE_NOT_FOUND);
    expectGoodSongPlaysNext();
}

TEST_F(BadInputTest, FileDeletedBetweenSelectionAndPlayIsNotFound) {
    const QString path = songBytes("gone soon.mp3");
    const std::string selected = shortPath(path);
    ASSERT_FALSE(selected.empty());
    QFile::remove(path);
    EXPECT_EQ(send("open " + selected + " type mpegvideo alias mp3play"), MCIERR_FILE_NOT_FOUND);
    EXPECT_EQ(send("play mp3play"), MCIERR_INVALID_DEVICE_NAME);
    EXPECT_EQ(playFile(path), MCIERR_MISSING_PARAMETER); // the lookup fails: no file named
    expectGoodSongPlaysNext();
}

} // namespace
