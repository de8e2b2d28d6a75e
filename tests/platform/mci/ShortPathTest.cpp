#include "platform/audio/Engine.h"
#include "platform/mci/Mci.h"
#include "tests/platform/audio/PcmHelpers.h"
#include "tests/platform/audio/TestSongs.h"
#include "tests/support/Poll.h"
#include "tests/support/TempTree.h"
#include "tests/support/WavCapture.h"

#include <QFile>
#include <cstring>
#include <gtest/gtest.h>

namespace {

QByteArray songBytes(const std::string& name) {
    QFile file(QString::fromStdString(testSong(name)));
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

TEST(ShortPathTest, AwkwardNamesOpenAsTheSameFile) {
    TempTree tree;
    WavCapture wav(tree.path("take-"));
    const QByteArray song = songBytes("tone330-mono-8k");
    const auto expected = referenceDecode(testSong("tone330-mono-8k")).samples;

    const QStringList names = {"My Music/Best of 1999/01 - Song.mp3",
                               "quote \"live\".mp3",
                               "[brackets] (and) {more}.mp3",
                               "100% pure.mp3",
                               "percent %20 escape.mp3",
                               "tab\there.mp3",
                               "Ünïcödé – 東京 ♫.mp3",
                               "  leading and trailing  .mp3"};
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        // A decoy where a careless unescaping would land.
        tree.file(QString(name).replace("%20", " "), "decoy");
        const QByteArray path = tree.file(name, song).toUtf8();
        char shortPath[255] = {};
        const DWORD length = GetShortPathNameA(path.constData(), shortPath, 255);
        ASSERT_GT(length, 0u);
        ASSERT_EQ(length, std::strlen(shortPath));
        EXPECT_EQ(std::strpbrk(shortPath, " \t\""), nullptr);

        ASSERT_EQ(
            mciSendStringA((std::string("open ") + shortPath + " type mpegvideo alias s").c_str(),
                           nullptr, 0, nullptr),
            0u);
        mciSendStringA("play s", nullptr, 0, nullptr);
        ASSERT_TRUE(eventually([] { return !audio::Engine::instance().playing(); }));
        mciSendStringA("close s", nullptr, 0, nullptr);
        EXPECT_TRUE(readWav(wav->files().back()).samples == expected);
    }
}

TEST(ShortPathTest, MissingOrEmptyPathGivesZeroAndLeavesTheBuffer) {
    char buffer[16] = "untouched";
    EXPECT_EQ(GetShortPathNameA("/no/such/file.mp3", buffer, sizeof buffer), 0u);
    EXPECT_EQ(GetShortPathNameA("", buffer, sizeof buffer), 0u);
    EXPECT_EQ(GetShortPathNameA(nullptr, buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "untouched");
}

TEST(ShortPathTest, TooSmallBufferGetsTheNeededSizeAndNoPath) {
    TempTree tree;
    const QByteArray path = tree.file("a b.mp3", "x").toUtf8();
    const DWORD needed = GetShortPathNameA(path.constData(), nullptr, 0);
    EXPECT_EQ(needed, static_cast<DWORD>(path.size() + 2 + 1)); // " " becomes "%20", plus the end
    std::vector<char> small(needed - 1, 'z');
    EXPECT_EQ(GetShortPathNameA(path.constData(), small.data(), needed - 1), needed);
    EXPECT_EQ(small[0], '\0');
    std::vector<char> exact(needed, 'z');
    EXPECT_EQ(GetShortPathNameA(path.constData(), exact.data(), needed), needed - 1);
    EXPECT_EQ(std::string(exact.data()).find(' '), std::string::npos);
}

} // namespace
