#include "platform/mci/Mci.h"
#include "platform/ui/DirList.h"
#include "player/Layout.h"
#include "tests/player/frmmain/MainWindowFixture.h"

#include <QFileInfo>
#include <QListWidgetItem>
#include <QSet>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Creates an empty file whose name is taken byte for byte, so that names which are not valid
// UTF-8 can be made at all.
void createRaw(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path.constData();
    ::close(fd);
}

// The bar height of the window, in twips: the skin's 66 pixels.
constexpr int kBarHeight = layout::Image1.height;

class HardeningTest : public MainWindowTest {
protected:
    // Names that are not UTF-8 cannot be removed by the temporary tree's own clean-up.
    void TearDown() override {
        for (const QByteArray& path : rawNames)
            if (::unlink(path.constData()) != 0)
                ::rmdir(path.constData());
        MainWindowTest::TearDown();
    }
    void createRawName(const QByteArray& path) {
        createRaw(path);
        rawNames.push_back(path);
    }
    void makeRawDirectory(const QByteArray& path) {
        ASSERT_EQ(::mkdir(path.constData(), 0755), 0) << path.constData();
        rawNames.push_back(path);
    }

    // Adds `directory` the way the user does: open it in the directory list, press ADD DIR.
    void addDirectory(const QString& directory) {
        ASSERT_TRUE(window->Dir1->setPath(directory));
        window->Image12_Click();
    }

    // Selects every entry in turn and collects the full path the window derives from it.
    QStringList fullPathsOfEntries() {
        QStringList paths;
        for (int i = 0; i < window->lstPls->listCount(); ++i) {
            window->lstPls->setListIndex(i);
            paths << window->txtFullPath;
        }
        return paths;
    }

    // The Dir1 entry whose full path is `path`, or null.
    QListWidgetItem* dirEntry(const QString& path) const {
        for (int i = 0; i < window->Dir1->count(); ++i)
            if (window->Dir1->item(i)->data(Qt::UserRole).toString() == path)
                return window->Dir1->item(i);
        return nullptr;
    }

    void openInDir1(QListWidgetItem* entry) { emit window->Dir1->itemDoubleClicked(entry); }

    std::vector<QByteArray> rawNames;
};

TEST_F(HardeningTest, TwentyThousandFilesAreListedAtStartAndByAddDir) {
    const QString music = tree.folder("music");
    constexpr int kFiles = 20000;
    for (int i = 0; i < kFiles; ++i)
        createRaw((music + QString("/track %1.mp3").arg(i, 5, 10, QChar('0'))).toUtf8());
    writeSettings("[quiva]\nDIR=" + music.toUtf8() + "/\n");

    load();
    ASSERT_EQ(window->lstPls->listCount(), kFiles);
    EXPECT_EQ(window->lstPls->list(0), "track 00000");
    EXPECT_EQ(window->lstPls->list(kFiles - 1), "track 19999");

    // The same files again: they are compared while the new names still end in ".mp3", so
    // they all stay (the next addition thins them).
    addDirectory(music);
    EXPECT_EQ(window->lstPls->listCount(), 2 * kFiles);
    window->lstPls->setListIndex(12345);
    EXPECT_EQ(window->txtFullPath, music + "/track 12345.mp3");
    EXPECT_TRUE(QFileInfo::exists(window->txtFullPath));
}

TEST_F(HardeningTest, ANameWithANewlineNamesThatFile) {
    const QString music = tree.folder("music");
    createRaw((music + "/first\nsecond.mp3").toUtf8());
    createRaw((music + "/first.mp3").toUtf8());
    load();
    addDirectory(music);
    ASSERT_EQ(window->lstPls->listCount(), 2);
    for (const QString& path : fullPathsOfEntries())
        EXPECT_TRUE(QFileInfo::exists(path)) << qPrintable(path);
    EXPECT_TRUE(window->lstPls->items().contains("first\nsecond"));
}

TEST_F(HardeningTest, NamesThatAreNotUtf8BecomeEntriesNamingTheirOwnFile) {
    const QString music = tree.folder("music");
    const QByteArray dir = music.toUtf8() + "/";
    createRawName(dir + "bad\xff.mp3");
    createRawName(dir + "latin\xe9t\xe9.mp3");
    createRawName(dir + "cut\xe2\x82.mp3");
    // What a lossy decoding of the names above would turn them into.
    createRaw(dir + "bad\xef\xbf\xbd.mp3");
    createRaw(dir + "good.mp3");
    createRawName(dir + "caf\xe9.mp3"); // left out: its Latin-1 text is the next one's name
    createRaw(dir + "caf\xc3\xa9.mp3");
    writeSettings("[quiva]\nDIR=" + dir + "\n"); // listed at start, where no duplicates go
    load();

    const QStringList entries = playlist();
    EXPECT_EQ(QSet<QString>(entries.begin(), entries.end()).size(), entries.size())
        << "two entries for one file";
    EXPECT_TRUE(entries.contains("good"));
    EXPECT_TRUE(entries.contains(QString("bad") + QChar(0xfffd)));
    for (const QString& path : fullPathsOfEntries()) // found, as the player looks files up
        EXPECT_GT(GetShortPathNameA(path.toLocal8Bit().constData(), nullptr, 0), 0u)
            << qPrintable(path);
}

TEST_F(HardeningTest, DirectoriesNamedInNoUtf8AreNeverOfferedAsAnotherDirectory) {
    const QString parent = tree.folder("dirs");
    const QByteArray dir = parent.toUtf8() + "/";
    makeRawDirectory(dir + "sub\xff");
    ASSERT_EQ(::mkdir((dir + "sub\xef\xbf\xbd").constData(), 0755), 0);
    ASSERT_EQ(::mkdir((dir + "plain").constData(), 0755), 0);
    load();
    ASSERT_TRUE(window->Dir1->setPath(parent));

    QStringList children;
    for (int i = 0; i < window->Dir1->count(); ++i) {
        const QString path = window->Dir1->item(i)->data(Qt::UserRole).toString();
        if (path.startsWith(parent + "/"))
            children << path;
    }
    EXPECT_EQ(QSet<QString>(children.begin(), children.end()).size(), children.size())
        << "two entries lead into one directory: " << qPrintable(children.join(", "));
    EXPECT_TRUE(children.contains(parent + "/plain"));
    for (const QString& path : children)
        EXPECT_TRUE(QFileInfo(path).isDir()) << qPrintable(path);
}

TEST_F(HardeningTest, ASymbolicLinkLoopCanBeEnteredLevelAfterLevel) {
    const QString music = tree.folder("music");
    createRaw((music + "/song.mp3").toUtf8());
    ASSERT_EQ(::symlink(".", (music + "/self").toUtf8().constData()), 0);
    ASSERT_EQ(::symlink("..", (music + "/up").toUtf8().constData()), 0);
    load();
    ASSERT_TRUE(window->Dir1->setPath(music));

    QString expected = music;
    for (int level = 0; level < 6; ++level) {
        QListWidgetItem* self = dirEntry(expected + "/self");
        ASSERT_NE(self, nullptr) << "level " << level;
        openInDir1(self);
        expected += "/self";
        ASSERT_EQ(window->Dir1->path(), expected);
    }
    window->Image12_Click();
    const QStringList entries = playlist();
    ASSERT_EQ(entries, QStringList({"song"})); // the looping links match no "*.mp3"
    window->lstPls->setListIndex(0);
    EXPECT_EQ(window->txtFullPath, expected + "/song.mp3");
    EXPECT_TRUE(QFileInfo::exists(window->txtFullPath));

    QListWidgetItem* up = dirEntry(expected + "/up");
    ASSERT_NE(up, nullptr);
    openInDir1(up);
    EXPECT_GT(window->Dir1->count(), 0);
}

TEST_F(HardeningTest, ADirectoryRemovedWhileShownLeavesBothListsUsable) {
    const QString music = tree.folder("music");
    const QString gone = tree.folder("music/gone");
    const QString kept = tree.folder("music/kept");
    createRaw((kept + "/k.mp3").toUtf8());
    load();
    ASSERT_TRUE(window->Dir1->setPath(music));
    QListWidgetItem* goneEntry = dirEntry(gone);
    ASSERT_NE(goneEntry, nullptr);
    ASSERT_EQ(::rmdir(gone.toUtf8().constData()), 0);

    openInDir1(goneEntry); // by double click
    EXPECT_EQ(window->Dir1->path(), music);
    EXPECT_EQ(dirEntry(gone), nullptr) << "Dir1 still offers the removed directory";
    EXPECT_NE(dirEntry(kept), nullptr);
    EXPECT_FALSE(window->Dir1->setPath(gone)); // by setPath
    EXPECT_EQ(window->Dir1->path(), music);

    // The current directory itself vanishes: ADD DIR adds nothing, and going on still works.
    ASSERT_TRUE(window->Dir1->setPath(kept));
    ASSERT_EQ(::unlink((kept + "/k.mp3").toUtf8().constData()), 0);
    ASSERT_EQ(::rmdir(kept.toUtf8().constData()), 0);
    window->Image12_Click();
    EXPECT_EQ(window->lstPls->listCount(), 0);
    QListWidgetItem* parent = dirEntry(music);
    ASSERT_NE(parent, nullptr);
    openInDir1(parent);
    EXPECT_EQ(window->Dir1->path(), music);

    createRaw((music + "/m.mp3").toUtf8());
    window->Image12_Click();
    EXPECT_EQ(playlist(), QStringList({"m"}));
    window->lstPls->setListIndex(0);
    EXPECT_EQ(window->txtFullPath, music + "/m.mp3");
}

TEST_F(HardeningTest, ATenMegabyteSettingsFileIsKeptWhole) {
    const QString music = tree.folder("music");
    QByteArray big = "[other]\n";
    for (int i = 0; big.size() < 10 * 1024 * 1024; ++i)
        big += "KEY" + QByteArray::number(i) + "=" + QByteArray(100, 'v') + "\n";
    writeSettings(big);

    load();
    EXPECT_EQ(window->Height(), kBarHeight);
    addDirectory(music);
    const QByteArray after = settings();
    EXPECT_TRUE(after.startsWith(big)) << "the settings written lost what was there";
    EXPECT_LE(after.size(), big.size() + 4096);

    load();
    EXPECT_EQ(window->Height(), kBarHeight);
}

TEST_F(HardeningTest, ASettingsFileThatIsADirectoryIsLeftAlone) {
    tree.folder("program/quiva.ini/inside");
    load();
    EXPECT_EQ(window->Height(), kBarHeight);
    addDirectory(tree.folder("music"));
    EXPECT_TRUE(QFileInfo(tree.path("program/quiva.ini")).isDir());
    EXPECT_TRUE(QFileInfo(tree.path("program/quiva.ini/inside")).isDir());
    load();
    EXPECT_EQ(window->Height(), kBarHeight);
}

TEST_F(HardeningTest, ASettingsFolderWithoutWritePermissionKeepsThePreviousFile) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run the window as a user who cannot write the folder";
    const QString music = tree.folder("music");
    const QByteArray previous = "[quiva]\nDIR=/previous/\n";
    writeSettings(previous);
    ASSERT_EQ(::chmod(tree.root().toUtf8().constData(), 0755), 0);
    ASSERT_EQ(::chmod(programDir.toUtf8().constData(), 0555), 0);
    ASSERT_EQ(::chmod(music.toUtf8().constData(), 0755), 0);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(60); // a hang in the child fails the test instead of stalling it
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        load();
        addDirectory(music);
        ::_exit(window->Height() == kBarHeight ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the window died writing to a read-only folder";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3: could not drop privileges, 4: wrong height";
    EXPECT_EQ(settings(), previous);
    ::chmod(programDir.toUtf8().constData(), 0755);
}

} // namespace
