#include "platform/profile/PrivateProfile.h"

#include "tests/support/TempTree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <random>
#include <string>
#include <sys/file.h>
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

TEST_F(PrivateProfileTest, ANullValueRemovesTheKey) {
    tree.file("quiva.ini", "[quiva]\ndir=/a/\nheight=990\n");
    ASSERT_TRUE(write("quiva", "DIR", nullptr));
    EXPECT_EQ(read("quiva", "dir", "gone"), "gone");
    EXPECT_EQ(read("quiva", "height"), "990");
    EXPECT_TRUE(write("quiva", "dir", nullptr, "never-created.ini"));
    EXPECT_FALSE(QFileInfo::exists(tree.path("never-created.ini")));
}

TEST_F(PrivateProfileTest, RefusesTextsThatWouldAddLines) {
    tree.file("quiva.ini", "[quiva]\ndir=/a/\n");
    EXPECT_FALSE(write("quiva", "dir", "/b/\nheight=1"));
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

struct Attributes {
    mode_t mode;
    uid_t owner;
    gid_t group;
    bool operator==(const Attributes&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Attributes& a) {
    return out << std::oct << a.mode << std::dec << " " << a.owner << ":" << a.group;
}

Attributes attributesOf(const QString& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.toUtf8().constData(), &info), 0);
    return {info.st_mode & 07777, info.st_uid, info.st_gid};
}

void give(const QString& path, const Attributes& attributes) {
    const QByteArray name = path.toUtf8();
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(name.constData(), attributes.owner, attributes.group), 0);
    }
    ASSERT_EQ(::chmod(name.constData(), attributes.mode), 0);
}

constexpr uid_t kNobody = 65534;

// A file without any write bit is read-only for root too, as the classic read-only attribute is;
// the folder lets anyone replace it, so only that rule keeps it.
TEST_F(PrivateProfileTest, AReadOnlyFileStaysAsItWasForEveryUser) {
    const QByteArray original = "[quiva]\r\nDIR=/a/\r\n";
    ASSERT_EQ(::chmod(tree.root().toUtf8().constData(), 0777), 0);
    const bool root = ::geteuid() == 0;
    const uid_t user = root ? kNobody : ::geteuid();
    const gid_t group = root ? kNobody : ::getegid();
    const struct {
        mode_t mode;
        bool asRoot;
    } cases[] = {{0444, true},  {0400, true},  {0000, true}, {0440, true},
                 {0444, false}, {0400, false}, {0040, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << c.mode << (c.asRoot ? " as root" : ""));
        if (c.asRoot && !root)
            continue;
        tree.file("quiva.ini", original);
        const Attributes before{c.mode, user, group};
        give(tree.path("quiva.ini"), before);
        const std::string file = path();
        auto writeIt = [&] {
            return WritePrivateProfileStringA("quiva", "DIR", "/b/", file.c_str());
        };

        EXPECT_FALSE(c.asRoot ? writeIt() : runWithoutPrivileges(writeIt));

        EXPECT_EQ(readAll(tree.path("quiva.ini")), original);
        EXPECT_EQ(attributesOf(tree.path("quiva.ini")), before);
        EXPECT_EQ(filesInRoot(), QStringList{"quiva.ini"});
        ::chmod(tree.path("quiva.ini").toUtf8().constData(), 0644);
    }
}

TEST_F(PrivateProfileTest, ReplacingKeepsModeOwnerAndGroup) {
    const bool root = ::geteuid() == 0;
    const Attributes cases[] = {
        {0600, ::geteuid(), ::getegid()},
        {0640, root ? kNobody : ::geteuid(), root ? kNobody : ::getegid()},
        {0604, root ? 1234 : ::geteuid(), root ? 4321 : ::getegid()},
        {0200, ::geteuid(), ::getegid()}, // write-only: read as root, or not at all
    };
    for (const Attributes& before : cases) {
        SCOPED_TRACE(testing::Message() << before);
        tree.file("quiva.ini", "[quiva]\nDIR=/a/\n");
        give(tree.path("quiva.ini"), before);
        const bool readable = root || (before.mode & 0400);
        EXPECT_EQ(write("quiva", "HEIGHT", "990"), readable);
        EXPECT_EQ(attributesOf(tree.path("quiva.ini")), before);
        if (readable) {
            EXPECT_EQ(read("quiva", "height"), "990");
        }
        ::chmod(tree.path("quiva.ini").toUtf8().constData(), 0644);
    }
}

// Two players writing the same file at once: each write reads, changes and replaces the whole
// file, so without taking turns one undoes the keys the other has just written.
TEST_F(PrivateProfileTest, WritersTakeTurnsSoNoKeyIsLost) {
    constexpr int kWrites = 200;
    const std::string file = path();
    auto writer = [&](char player) {
        const pid_t child = ::fork();
        if (child == 0) {
            int failed = 0;
            for (int i = 0; i < kWrites; ++i) {
                const std::string key = player + std::to_string(i);
                failed +=
                    !WritePrivateProfileStringA("quiva", key.c_str(), key.c_str(), file.c_str());
            }
            ::_exit(std::min(failed, 100));
        }
        return child;
    };
    const pid_t players[] = {writer('A'), writer('B')};
    for (const pid_t player : players) {
        int status = 0;
        ASSERT_EQ(::waitpid(player, &status, 0), player);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "writes that failed";
    }
    int lost = 0;
    for (const char player : {'A', 'B'})
        for (int i = 0; i < kWrites; ++i) {
            const std::string key = player + std::to_string(i);
            lost += read("quiva", key.c_str()) != key;
        }
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(filesInRoot(), QStringList{"quiva.ini"});
}

// A process that keeps the folder locked for good costs a write a bounded wait, not a hang.
TEST_F(PrivateProfileTest, AFolderLockedForGoodFailsTheWriteAfterAWhile) {
    tree.file("quiva.ini", "[quiva]\nDIR=/a/\n");
    const int folder = ::open(tree.root().toUtf8().constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(folder, 0);
    ASSERT_EQ(::flock(folder, LOCK_EX), 0);
    EXPECT_FALSE(write("quiva", "DIR", "/b/"));
    EXPECT_EQ(readAll(tree.path("quiva.ini")), "[quiva]\nDIR=/a/\n");
    ::close(folder);
    EXPECT_TRUE(write("quiva", "DIR", "/b/"));
    EXPECT_EQ(read("quiva", "dir"), "/b/");
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
