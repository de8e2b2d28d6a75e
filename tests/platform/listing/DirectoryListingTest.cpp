#include "platform/listing/DirectoryListing.h"

#include "tests/support/TempTree.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

using listing::compareNatural;
using listing::listDirectory;
using listing::matchesWildcard;

constexpr unsigned kPlaylistMask = DDL_DIRECTORY | DDL_ARCHIVE;

TEST(MatchesWildcardTest, FollowsStarAndQuestionMarkWithoutRegardToCase) {
    EXPECT_TRUE(matchesWildcard("*.mp3", "SONG.MP3"));
    EXPECT_TRUE(matchesWildcard("*.mp3", ".mp3"));
    EXPECT_TRUE(matchesWildcard("*", "anything"));
    EXPECT_TRUE(matchesWildcard("tr?ck*.MP3", "Track 01 - x.mp3"));
    EXPECT_TRUE(matchesWildcard("?.mp3", "\u00e9.mp3")); // one character, whatever its size
    EXPECT_TRUE(matchesWildcard("*a*b*c", "xxaxxbxxbxc"));
    EXPECT_TRUE(matchesWildcard("\u00c9T\u00c9.mp3", "\u00e9t\u00e9.MP3"));
    EXPECT_FALSE(matchesWildcard("*.mp3", "song.mp3.part"));
    EXPECT_FALSE(matchesWildcard("*.mp3", "song.mp"));
    EXPECT_FALSE(matchesWildcard("?.mp3", ".mp3"));
    EXPECT_FALSE(matchesWildcard("", "a"));
    EXPECT_TRUE(matchesWildcard("", ""));
}

TEST(CompareNaturalTest, OrdersNumbersByValueAndIgnoresCase) {
    EXPECT_LT(compareNatural("Track 2", "Track 10"), 0);
    EXPECT_GT(compareNatural("Track 10", "track 9"), 0);
    EXPECT_LT(compareNatural("alpha", "BETA"), 0);
    EXPECT_LT(compareNatural("a", "a1"), 0);
    EXPECT_LT(compareNatural("x 99999999999999999999998", "x 99999999999999999999999"), 0);
    // Ties on value and case are still ordered, the same way every time.
    EXPECT_LT(compareNatural("Track 2", "Track 02"), 0);
    EXPECT_NE(compareNatural("abc", "ABC"), 0);
    EXPECT_EQ(compareNatural("abc", "ABC"), -compareNatural("ABC", "abc"));
    EXPECT_EQ(compareNatural("same", "same"), 0);
}

class ListDirectoryTest : public ::testing::Test {
protected:
    TempTree tree;
    QString dir() const { return tree.path("music") + "/"; }
};

TEST_F(ListDirectoryTest, ListsMatchingFilesAndBracketedDirectoriesInNaturalOrder) {
    for (const char* name : {"Track 10.mp3", "track 9.MP3", "Track 1.mp3", "notes.txt", "b.mp3.bak",
                             "x.mp3/", "other/", ".hidden.mp3", ".dotdir.mp3/"}) {
        const QString relative = "music/" + QString(name);
        relative.endsWith('/') ? tree.folder(relative) : tree.file(relative);
    }
    EXPECT_EQ(listDirectory(dir() + "*.mp3", kPlaylistMask),
              QStringList({"Track 1.mp3", "track 9.MP3", "Track 10.mp3", "[x.mp3]"}));
    EXPECT_EQ(listDirectory(dir() + "*.mp3", DDL_ARCHIVE),
              QStringList({"Track 1.mp3", "track 9.MP3", "Track 10.mp3"}));
    EXPECT_EQ(listDirectory(dir() + "*", kPlaylistMask),
              QStringList({"b.mp3.bak", "notes.txt", "[other]", "Track 1.mp3", "track 9.MP3",
                           "Track 10.mp3", "[x.mp3]"}));
}

TEST_F(ListDirectoryTest, MissingOrUnreadableDirectoriesGiveNothing) {
    EXPECT_TRUE(listDirectory(tree.path("missing") + "/*.mp3", kPlaylistMask).isEmpty());
    tree.file("file.mp3");
    EXPECT_TRUE(listDirectory(tree.path("file.mp3") + "/*", kPlaylistMask).isEmpty());
    tree.folder("music");
    EXPECT_TRUE(listDirectory(dir(), kPlaylistMask).isEmpty()); // an empty pattern
}

TEST_F(ListDirectoryTest, AnEmptyDirectoryPartListsTheCurrentDirectory) {
    tree.file("here.mp3");
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(tree.root()));
    const QStringList names = listDirectory("*.mp3", kPlaylistMask);
    QDir::setCurrent(previous);
    EXPECT_EQ(names, QStringList{"here.mp3"});
}

TEST_F(ListDirectoryTest, FollowsLinksAndLeavesOutDanglingOnes) {
    tree.file("elsewhere/real.mp3");
    tree.folder("elsewhere/albums.mp3");
    tree.folder("music");
    ASSERT_TRUE(QFile::link(tree.path("elsewhere/real.mp3"), tree.path("music/linked.mp3")));
    ASSERT_TRUE(QFile::link(tree.path("elsewhere/albums.mp3"), tree.path("music/dir.mp3")));
    ASSERT_TRUE(QFile::link(tree.path("elsewhere/gone.mp3"), tree.path("music/dangling.mp3")));
    EXPECT_EQ(listDirectory(dir() + "*.mp3", kPlaylistMask),
              QStringList({"[dir.mp3]", "linked.mp3"}));
}

TEST_F(ListDirectoryTest, ShowsNamesThatAreNotUtf8AsLatin1) {
    tree.file("music/good \u00e9.mp3");
    const QByteArray bad = tree.path("music").toUtf8() + "/bad \xff.mp3";
    const int fd = ::open(bad.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(listDirectory(dir() + "*.mp3", kPlaylistMask),
              QStringList({"bad \u00ff.mp3", "good \u00e9.mp3"}));
}

} // namespace
