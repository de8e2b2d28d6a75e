#include "platform/profile/PrivateProfile.h"

#include "tests/support/TempTree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class PrivateProfileTest : public ::testing::Test {
protected:
    TempTree tree;

    std::string path(const QString& relative = "quiva.ini") const {
        return tree.path(relative).toStdString();
    }

    std::string read(const char* section, const char* key, const char* fallback = "",
                     const QString& file = "quiva.ini") const {
        char buffer[750];
        const DWORD count = GetPrivateProfileStringA(section, key, fallback, buffer, sizeof buffer,
                                                     path(file).c_str());
        EXPECT_EQ(count, std::strlen(buffer));
        return std::string(buffer, count);
    }

    bool write(const char* section, const char* key, const char* value,
               const QString& file = "quiva.ini") const {
        return WritePrivateProfileStringA(section, key, value, path(file).c_str());
    }

    QStringList filesInRoot() const {
        return QDir(tree.root()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
};

TEST_F(PrivateProfileTest, ReadsHandEditedFilesWithTheClassicRules) {
    tree.file("quiva.ini", "stray=before any section\r\n"
                           "[Other]\r\n"
                           "dir=wrong section\r\n"
                           "  [ QUIVA ]  \r\n"
                           "; dir=commented out\r\n"
                           "  Dir  =   \"/music/a b/\"   \r\n"
                           "dir=second copy\r\n"
                           "HeIgHt = '5580'\r\n"
                           "title=\"unbalanced'\r\n"
                           "empty=\r\n"
                           "no equals sign\r\n");
    EXPECT_EQ(read("quiva", "dir"), "/music/a b/");
    EXPECT_EQ(read("Quiva", "HEIGHT"), "5580");
    EXPECT_EQ(read("quiva", "title"), "\"unbalanced'");
    EXPECT_EQ(read("quiva", "empty", "fallback"), "");
    EXPECT_EQ(read("quiva", "stray", "fallback"), "fallback");
    EXPECT_EQ(read("quiva", "no equals sign", "fallback"), "fallback");
    EXPECT_EQ(read("other", "dir"), "wrong section");
}

TEST_F(PrivateProfileTest, MissingFileSectionOrKeyReadsTheDefault) {
    EXPECT_EQ(read("quiva", "dir", "none"), "none");
    tree.file("quiva.ini", "[quiva]\ndir=/x/\n");
    EXPECT_EQ(read("nowhere", "dir", "none"), "none");
    EXPECT_EQ(read("quiva", "height", "none"), "none");
    EXPECT_EQ(read("quiva", "height", nullptr), "");
    tree.folder("folder.ini");
    EXPECT_EQ(read("quiva", "dir", "none", "folder.ini"), "none");
}

TEST_F(PrivateProfileTest, CutsLongValuesToTheBufferWithoutSplittingCharacters) {
    tree.file("quiva.ini", "[quiva]\nlong=" + QByteArray(2000, 'x') +
                               "\nwide=" + QByteArray(1000, 'y').replace("y", "\xC3\xA9") + "\n");
    EXPECT_EQ(read("quiva", "long"), std::string(749, 'x'));
    // 749 bytes would end in the middle of a two-byte character: 748 are returned.
    EXPECT_EQ(read("quiva", "wide").size(), 748u);

    char tiny[1] = {'z'};
    EXPECT_EQ(GetPrivateProfileStringA("quiva", "long", "", tiny, 1, path().c_str()), 0u);
    EXPECT_EQ(tiny[0], '\0');
}

TEST_F(PrivateProfileTest, CreatesTheFileOnTheFirstWrite) {
    ASSERT_TRUE(write("quiva", "DIR", "/music/"));
    ASSERT_TRUE(write("quiva", "HEIGHT", "990"));
    EXPECT_EQ(readAll(tree.path("quiva.ini")), "[quiva]\nDIR=/music/\nHEIGHT=990\n");
    EXPECT_EQ(read("quiva", "dir"), "/music/");
    EXPECT_EQ(filesInRoot(), QStringList{"quiva.ini"}); // no temporary file left behind
}

TEST_F(PrivateProfileTest, WritesKeepEveryOtherLineAsItWas) {
    const QByteArray original = "; my settings\n"
                                "[other]\n"
                                "dir = elsewhere\n"
                                "\n"
                                "[Quiva]\n"
                                "; last directory\n"
                                "  dir =  \"/old/\"\n"
                                "height=990\n"
                                "\n"
                                "; trailing comment\n"
                                "[tail]\n"
                                "y=2";
    tree.file("quiva.ini", original);

    ASSERT_TRUE(write("quiva", "DIR", "/new/"));
    ASSERT_TRUE(write("QUIVA", "WIDTH", "4395"));
    ASSERT_TRUE(write("fresh", "K", "v"));

    EXPECT_EQ(readAll(tree.path("quiva.ini")), "; my settings\n"
                                               "[other]\n"
                                               "dir = elsewhere\n"
                                               "\n"
                                               "[Quiva]\n"
                                               "; last directory\n"
                                               "  dir =  /new/\n"
                                               "height=990\n"
                                               "WIDTH=4395\n"
                                               "\n"
                                               "; trailing comment\n"
                                               "[tail]\n"
                                               "y=2\n"
                                               "[fresh]\n"
                                               "K=v\n");
}

TEST_F(PrivateProfileTest, KeepsCrlfLineEndsAndTheByteOrderMark) {
    tree.file("quiva.ini", "\xEF\xBB\xBF[quiva]\r\ndir=/a/\r\n");
    EXPECT_EQ(read("quiva", "dir"), "/a/");
    ASSERT_TRUE(write("quiva", "dir", "/b/"));
    ASSERT_TRUE(write("quiva", "HEIGHT", "5580"));
    EXPECT_EQ(readAll(tree.path("quiva.ini")), "\xEF\xBB\xBF[quiva]\r\ndir=/b/\r\nHEIGHT=5580\r\n");
}

TEST_F(PrivateProfileTest, ANullValueRemovesTheKey) {
    tree.file("quiva.ini", "[quiva]\ndir=/a/\nheight=990\n");
    ASSERT_TRUE(write("quiva", "DIR", nullptr));
    EXPECT_EQ(readAll(tree.path("quiva.ini")), "[quiva]\nheight=990\n");
    EXPECT_TRUE(write("quiva", "missing", nullptr));
    EXPECT_TRUE(write("quiva", "dir", nullptr, "never-created.ini"));
    EXPECT_FALSE(QFileInfo::exists(tree.path("never-created.ini")));
}

TEST_F(PrivateProfileTest, RefusesTextsThatWouldAddLines) {
    tree.file("quiva.ini", "[quiva]\ndir=/a/\n");
    EXPECT_FALSE(write("quiva", "dir", "/b/\nheight=1"));
    EXPECT_FALSE(write("quiva", "dir", "/b/\r"));
    EXPECT_FALSE(write("quiva", "di\nr", "x"));
    EXPECT_FALSE(write("quiva", "a=b", "x"));
    EXPECT_FALSE(write("quiva", ";key", "x"));
    EXPECT_FALSE(write("quiva", "  ", "x"));
    EXPECT_FALSE(write("qu]iva", "key", "x"));
    EXPECT_FALSE(write("quiva\n[evil", "key", "x"));
    EXPECT_FALSE(write(nullptr, "key", "x"));
    EXPECT_FALSE(write("quiva", nullptr, "x"));
    EXPECT_EQ(readAll(tree.path("quiva.ini")), "[quiva]\ndir=/a/\n");
}

TEST_F(PrivateProfileTest, AFailedWriteLeavesTheOldFile) {
    tree.folder("folder.ini");
    EXPECT_FALSE(write("quiva", "dir", "/x/", "folder.ini"));
    EXPECT_TRUE(QFileInfo(tree.path("folder.ini")).isDir());
    EXPECT_FALSE(write("quiva", "dir", "/x/", "missing/quiva.ini"));
    EXPECT_EQ(filesInRoot(), QStringList{"folder.ini"});
}

// Runs `action` in a child process without root's power to write anywhere, so that a read-only
// directory is read-only even when the tests run as root.
bool runWithoutPrivileges(const std::function<bool()>& action) {
    if (::geteuid() != 0)
        return action();
    const pid_t child = ::fork();
    if (child == 0) {
        const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
        ::_exit(dropped ? (action() ? 1 : 0) : 2);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 2) << "could not drop privileges";
    return WEXITSTATUS(status) == 1;
}

TEST_F(PrivateProfileTest, AReadOnlyDirectoryKeepsTheOldFile) {
    tree.file("ro/quiva.ini", "[quiva]\ndir=/a/\n");
    ASSERT_EQ(::chmod(tree.root().toUtf8().constData(), 0755), 0);
    ASSERT_EQ(::chmod(tree.path("ro/quiva.ini").toUtf8().constData(), 0644), 0);
    ASSERT_EQ(::chmod(tree.path("ro").toUtf8().constData(), 0555), 0);
    const std::string file = path("ro/quiva.ini");

    EXPECT_FALSE(runWithoutPrivileges(
        [&] { return WritePrivateProfileStringA("quiva", "dir", "/b/", file.c_str()); }));

    ::chmod(tree.path("ro").toUtf8().constData(), 0755);
    EXPECT_EQ(readAll(tree.path("ro/quiva.ini")), "[quiva]\ndir=/a/\n");
    EXPECT_EQ(QDir(tree.path("ro")).entryList(QDir::Files | QDir::Hidden),
              QStringList{"quiva.ini"});
}

TEST_F(PrivateProfileTest, AWriteThatRunsOutOfRoomKeepsTheOldFile) {
    tree.file("quiva.ini", "[quiva]\ndir=/a/\n");
    const std::string file = path();
    const std::string value(8192, 'v');
    // A file size limit makes the write fail part way, as a full disk would.
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        const bool limited = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
        ::_exit(!limited ? 2
                         : (WritePrivateProfileStringA("quiva", "dir", value.c_str(), file.c_str())
                                ? 1
                                : 0));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readAll(tree.path("quiva.ini")), "[quiva]\ndir=/a/\n");
    EXPECT_EQ(filesInRoot(), QStringList{"quiva.ini"});
}

TEST_F(PrivateProfileTest, KeepsTheFileModeAndFollowsSymbolicLinks) {
    tree.file("real/quiva.ini", "[quiva]\ndir=/a/\n");
    ASSERT_EQ(::chmod(tree.path("real/quiva.ini").toUtf8().constData(), 0640), 0);
    ASSERT_TRUE(QFile::link(tree.path("real/quiva.ini"), tree.path("link.ini")));

    ASSERT_TRUE(write("quiva", "dir", "/b/", "link.ini"));

    EXPECT_TRUE(QFileInfo(tree.path("link.ini")).isSymLink());
    EXPECT_EQ(readAll(tree.path("real/quiva.ini")), "[quiva]\ndir=/b/\n");
    struct stat info {};
    ASSERT_EQ(::stat(tree.path("real/quiva.ini").toUtf8().constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST_F(PrivateProfileTest, CopesWithHugeAndBinaryFiles) {
    QByteArray huge = "[quiva]\n";
    while (huge.size() < 10 * 1024 * 1024)
        huge += "filler_key_number=some value that takes room\n";
    huge += "dir=/at/the/end/\n";
    tree.file("huge.ini", huge);
    EXPECT_EQ(read("quiva", "dir", "", "huge.ini"), "/at/the/end/");
    ASSERT_TRUE(write("quiva", "height", "990", "huge.ini"));
    EXPECT_EQ(read("quiva", "height", "", "huge.ini"), "990");

    std::mt19937 random(7);
    QByteArray garbage(1024 * 1024, '\0');
    for (char& byte : garbage)
        byte = char(random());
    tree.file("garbage.ini", garbage);
    read("quiva", "dir", "", "garbage.ini"); // whatever it finds, it must come back
    ASSERT_TRUE(write("quiva", "dir", "/x/", "garbage.ini"));
    EXPECT_EQ(read("quiva", "dir", "", "garbage.ini"), "/x/");
    EXPECT_TRUE(readAll(tree.path("garbage.ini")).startsWith(garbage));
}

} // namespace
