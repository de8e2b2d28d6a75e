#include "player/Layout.h"
#include "player/Settings.h"
#include "tests/player/frmmain/MainWindowFixture.h"

#include "platform/ui/DirList.h"

#include <QFileInfo>

namespace {

QStringList sorted(QStringList list) {
    list.sort(Qt::CaseInsensitive);
    return list;
}

} // namespace

using StartupTest = MainWindowTest;

TEST_F(StartupTest, WithoutSettingsFileListsCurrentDirectoryAtBarHeight) {
    tree.file("cwd/one.mp3");
    tree.file("cwd/notes.txt");
    QDir::setCurrent(tree.path("cwd"));

    frmMain& w = load();

    EXPECT_EQ(w.Width(), 4395);
    EXPECT_EQ(w.Height(), layout::Image1.height);
    EXPECT_EQ(w.size(), QSize(293, 66));
    EXPECT_EQ(playlist(), QStringList{"one"});
    EXPECT_EQ(w.menu().mnuPls->text(), "Show Playlist");
    EXPECT_EQ(w.windowTitle(), "Quiva Media Player");
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(w.windowIcon().availableSizes().contains(QSize(256, 256)))
        << "the window carries no icon of its own";
    EXPECT_EQ(w.txtDirPath, "");
    EXPECT_EQ(w.txtDir, "");
    EXPECT_EQ(w.lblheight, "");
    EXPECT_EQ(w.Dir1->path(), QDir::cleanPath(tree.path("cwd")));
}

TEST_F(StartupTest, StoredHeightDecidesHeightAndMenuCaption) {
    struct Case {
        QByteArray stored;
        int height;
        const char* caption;
    };
    const Case cases[] = {
        {"5580", settings::kPlaylistHeight, "Hide Playlist"},
        {"990", layout::Image1.height, "Show Playlist"},
        {"3000", 3000, "Show Playlist"}, // edited by hand: applied unchanged
        {"9000", 9000, "Show Playlist"}, // taller than the window was drawn
        {"5580.0", settings::kPlaylistHeight, "Hide Playlist"},
        {"491505", 491505, "Show Playlist"},             // the tallest window X11 can carry
        {"abc", layout::Image1.height, "Show Playlist"}, // not a number: the bar's height stays
        {"", layout::Image1.height, "Show Playlist"},
        // Below the bar (no menu button, or no window to see), and what is no plain number.
        {"989", layout::Image1.height, "Show Playlist"},
        {"500", layout::Image1.height, "Show Playlist"},
        {"0", layout::Image1.height, "Show Playlist"},
        {"-5580", layout::Image1.height, "Show Playlist"},
        {"+5580", layout::Image1.height, "Show Playlist"},
        {"nan", layout::Image1.height, "Show Playlist"},
        {"inf", layout::Image1.height, "Show Playlist"},
        {"1e-300", layout::Image1.height, "Show Playlist"},
        {"1e4", layout::Image1.height, "Show Playlist"},
        {"0x1000", layout::Image1.height, "Show Playlist"},
        {"5580.", layout::Image1.height, "Show Playlist"},
        {".5", layout::Image1.height, "Show Playlist"},
        {"5580.0.0", layout::Image1.height, "Show Playlist"},
        {"491520", layout::Image1.height, "Show Playlist"},
        {"99999999999999999999999", layout::Image1.height, "Show Playlist"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.toStdString());
        writeSettings("[quiva]\r\nHEIGHT=" + c.stored + "\r\n");
        frmMain& w = load();
        EXPECT_EQ(w.Height(), c.height);
        EXPECT_EQ(w.lblheight, QString::fromLatin1(c.stored));
        EXPECT_EQ(w.menu().mnuPls->text(), c.caption);
        EXPECT_EQ(w.Width(), 4395);
    }
}

TEST_F(StartupTest, PlaylistHeightIs372Pixels) {
    writeSettings("[quiva]\nheight=5580\n");
    EXPECT_EQ(load().height(), 372);
}

TEST_F(StartupTest, StoredDirectoryFillsPlaylistWithoutExtensions) {
    const QString music = tree.folder("Music");
    tree.file("Music/A.MP3");
    tree.file("Music/b.mp3");
    tree.file("Music/c d.mp3");
    tree.file("Music/cover.jpg");
    tree.folder("Music/x.mp3");
    writeSettings("[Quiva]\nDir=" + music.toUtf8() + "/\n");

    frmMain& w = load();

    EXPECT_EQ(sorted(playlist()), sorted({"A", "b", "c d", "[x.mp3]"}));
    EXPECT_EQ(w.txtDirPath, music + "/");
    EXPECT_EQ(w.txtDir, music + "/");
    EXPECT_EQ(w.Dir1->path(), music);
    EXPECT_EQ(w.lstPls->listIndex(), -1);
    EXPECT_EQ(w.txtFullPath, "");
}

TEST_F(StartupTest, DirectoryWithoutTrailingSeparatorJoinsNamesWithoutOne) {
    const QString music = tree.folder("Music");
    tree.file("Music/inside.mp3");
    tree.file("Music-live.mp3"); // what "<dir>*.mp3" names in the parent
    writeSettings("[quiva]\ndir=" + music.toUtf8() + "\n");

    frmMain& w = load();

    EXPECT_EQ(w.Dir1->path(), music);
    EXPECT_EQ(playlist(), QStringList{"Music-live"});
    EXPECT_EQ(w.txtDirPath, music);
}

TEST_F(StartupTest, VanishedDirectoryLeavesDirectoryListAndEmptyPlaylist) {
    tree.file("cwd/here.mp3");
    QDir::setCurrent(tree.path("cwd"));
    writeSettings("[quiva]\ndir=" + tree.path("gone").toUtf8() + "/\n");

    frmMain& w = load();

    EXPECT_EQ(w.Dir1->path(), QDir::cleanPath(tree.path("cwd")));
    EXPECT_TRUE(playlist().isEmpty());
    EXPECT_EQ(w.txtDir, "");
    EXPECT_EQ(w.txtDirPath, tree.path("gone") + "/");
}
