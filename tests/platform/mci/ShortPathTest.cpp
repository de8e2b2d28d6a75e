#include "platform/mci/ShortPath.h"
#include "platform/audio/Engine.h"
#include "platform/mci/Mci.h"
#include "tests/platform/audio/PcmHelpers.h"
#include "tests/platform/audio/TestSongs.h"
#include "tests/support/Poll.h"
#include "tests/support/TempTree.h"
#include "tests/support/WavCapture.h"

#include <QDir>
#include <QFile>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

QByteArray songBytes(const std::string& name) {
    QFile file(QString::fromStdString(testSong(name)));
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// A folder name of 250 bytes, spaces and all; enough of them make a path of any length.
QString longFolderName(char letter) {
    return QString("%1 ").arg(QChar(letter)).repeated(125);
}

// Every folder of `path` below the tree's root, made with the tree.
QString deepPath(TempTree& tree, int maxBytes) {
    QString relative;
    for (char letter = 'a';
         tree.path(relative + longFolderName(letter) + "/x.mp3").toUtf8().size() < maxBytes;
         ++letter)
        relative += longFolderName(letter) + "/";
    const int room = maxBytes - int(tree.path(relative).toUtf8().size()) - 4;
    return relative + QString("s").repeated(std::min(room, 250)) + ".mp3";
}

std::string shortFormOf(const QByteArray& path) {
    char shortPath[255] = {};
    const DWORD length = GetShortPathNameA(path.constData(), shortPath, 255);
    EXPECT_EQ(length, std::strlen(shortPath));
    return shortPath;
}

TEST(ShortPathTest, AwkwardNamesOpenAsTheSameFile) {
    TempTree tree;
    WavCapture wav(tree.path("take-"));
    const QByteArray song = songBytes("tone330-mono-8k");
    const auto expected = referenceDecode(testSong("tone330-mono-8k")).samples;

    const QStringList names = {
        "My Music/Best of 1999/01 - Song.mp3",
        "quote \"live\".mp3",
        "[brackets] (and) {more}.mp3",
        "100% pure.mp3",
        "percent %20 escape.mp3",
        "back\\slash\\ed.mp3",
        "-leading dash.mp3",
        "--",
        "~1",
        "tab\there.mp3",
        "Ünïcödé – 東京 ♫.mp3",
        "  leading and trailing  .mp3",
        // Spaces that, escaped, made the path longer than any short form may be.
        "Various Artists Collection/The Very Best Of The Great American Songbook (Remastered "
        "Deluxe Edition 2011)/Disc 1 of 2 - Bonus Live Material/07 - It Had To Be You (Live At "
        "The Royal Albert Hall 1998).mp3",
        deepPath(tree, PATH_MAX - 1),
    };
    for (const QString& name : names) {
        SCOPED_TRACE(name.left(80).toStdString());
        // A decoy where a careless unescaping would land.
        tree.file(QString(name).replace("%20", " "), "decoy");
        const QByteArray path = tree.file(name, song).toUtf8();
        ASSERT_LT(path.size(), PATH_MAX);
        const std::string shortPath = shortFormOf(path);
        ASSERT_FALSE(shortPath.empty());
        EXPECT_LE(shortPath.size(), 254u);
        EXPECT_EQ(shortPath.find_first_of(" \t\""), std::string::npos);

        ASSERT_EQ(mciSendStringA(("open " + shortPath + " type mpegvideo alias s").c_str(), nullptr,
                                 0, nullptr),
                  0u);
        mciSendStringA("play s", nullptr, 0, nullptr);
        ASSERT_TRUE(eventually([] { return !audio::Engine::instance().playing(); }));
        mciSendStringA("close s", nullptr, 0, nullptr);
        EXPECT_TRUE(readWav(wav->files().back()).samples == expected);
    }
}

// Names as a case-sensitive file system keeps them, looked up as the classic platform did.
TEST(ShortPathTest, FindsTheFileWithoutRegardToCase) {
    struct Case {
        std::vector<std::string> files;
        const char* asked;
        const char* found; // nullptr: no file
    };
    const Case cases[] = {
        {{"SONG.MP3"}, "SONG.mp3", "SONG.MP3"},
        {{"Other.Mp3"}, "Other.mp3", "Other.Mp3"},
        {{"a.mp3", "A.MP3"}, "a.mp3", "a.mp3"}, // the exact name first
        {{"a.mp3", "A.MP3"}, "A.MP3", "A.MP3"},
        {{"Song.mp3", "song.MP3", "SONG.Mp3"}, "song.mp3", "song.MP3"}, // the one listed as "song"
        {{"song.Mp3", "song.MP3"}, "song.mp3", "song.MP3"}, // a tie: the least in byte order
        {{"Music/Disc 1/x.mp3"}, "MUSIC/disc 1/X.MP3", "Music/Disc 1/x.mp3"},
        {{"Ünïcödé.MP3"}, "üNÏCÖDÉ.mp3", "Ünïcödé.MP3"},
        {{"ΣΟΦΊΑ.mp3"}, "σοφία.mp3", "ΣΟΦΊΑ.mp3"},
        {{"caf\xE9.MP3"}, "café.mp3", "caf\xE9.MP3"}, // not UTF-8: by its Latin-1 text
        {{"song.mp3"}, "songs.mp3", nullptr},
        {{"song.mp3"}, "SONG.MP3/", nullptr}, // a trailing '/' asks for a folder
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked);
        TempTree tree;
        const std::string root = tree.root().toStdString() + "/";
        for (const std::string& file : c.files) { // as bytes: some are not UTF-8
            std::filesystem::create_directories(std::filesystem::path(root + file).parent_path());
            std::ofstream(root + file) << "x";
        }
        const std::string asked = root + c.asked;
        char shortPath[255] = {};
        const DWORD length = GetShortPathNameA(asked.c_str(), shortPath, 255);
        if (!c.found) {
            EXPECT_EQ(length, 0u);
            continue;
        }
        ASSERT_GT(length, 0u);
        EXPECT_EQ(mci::detail::pathOfElement(shortPath), root + c.found);
    }
}

// The form stays the file's while the process lives, wherever it looks from later; each file has
// one form of its own.
TEST(ShortPathTest, ARelativePathKeepsNamingItsFile) {
    TempTree tree;
    const QString first = tree.file("music/One.MP3", "1");
    tree.file("music/two.mp3", "2");
    tree.folder("elsewhere/music");
    const QString before = QDir::currentPath();
    QDir::setCurrent(tree.root());

    const std::string one = shortFormOf("music/one.mp3");
    const std::string two = shortFormOf("music/two.mp3");
    QDir::setCurrent(tree.path("elsewhere"));
    tree.file("elsewhere/music/one.mp3", "decoy");
    EXPECT_EQ(shortFormOf(first.toUtf8()), one);
    EXPECT_NE(one, two);
    EXPECT_EQ(mci::detail::pathOfElement(one), first.toStdString());
    QDir::setCurrent(before);
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
    EXPECT_EQ(needed, static_cast<DWORD>(shortFormOf(path).size() + 1));
    std::vector<char> small(needed - 1, 'z');
    EXPECT_EQ(GetShortPathNameA(path.constData(), small.data(), needed - 1), needed);
    EXPECT_EQ(small[0], '\0');
    std::vector<char> exact(needed, 'z');
    EXPECT_EQ(GetShortPathNameA(path.constData(), exact.data(), needed), needed - 1);
    EXPECT_EQ(std::string(exact.data()).find(' '), std::string::npos);
}

} // namespace
