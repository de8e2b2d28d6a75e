#include "player/Layout.h"
#include "player/Settings.h"
#include "tests/player/frmmain/MainWindowFixture.h"

#include "platform/registry/Stores.h"
#include "platform/ui/DirList.h"
#include "platform/ui/ImageControl.h"
#include "platform/ui/Label.h"
#include "platform/ui/ProcessStart.h"
#include "platform/ui/WindowMove.h"
#include "player/InfoPage.h"
#include "player/frmAbout.h"

#include <QApplication>
#include <QTest>
#include <cstring>

using MenuTest = MainWindowTest;
using PlaylistBuildingTest = MainWindowTest;
using ChromeTest = MainWindowTest;

// ---- Popup menu and playlist panel -------------------------------------------------------

TEST_F(MenuTest, EntriesInOrderWithSeparators) {
    const QList<QAction*> entries = load().menu().mnuMenu->actions();
    ASSERT_EQ(entries.size(), 6);
    EXPECT_EQ(entries[0]->text(), "Show Playlist");
    EXPECT_TRUE(entries[1]->isSeparator());
    EXPECT_EQ(entries[2]->text(), "Information");
    EXPECT_EQ(entries[3]->text(), "About");
    EXPECT_TRUE(entries[4]->isSeparator());
    EXPECT_EQ(entries[5]->text(), "Exit");
    EXPECT_FALSE(window->menu().isVisible());
}

TEST_F(MenuTest, PlaylistEntryTwiceShowsThenHidesAndRemembersEachHeight) {
    frmMain& w = load();
    frmMenu& m = w.menu();

    m.mnuPls_Click();
    EXPECT_EQ(w.Height(), settings::kPlaylistHeight);
    EXPECT_EQ(w.lblheight, "5580");
    EXPECT_EQ(m.mnuPls->text(), "Hide Playlist");
    EXPECT_EQ(settings(), "[quiva]\nHEIGHT=5580\n");

    m.mnuPls_Click();
    EXPECT_EQ(w.Height(), layout::Image1.height);
    EXPECT_EQ(w.lblheight, "990");
    EXPECT_EQ(m.mnuPls->text(), "Show Playlist");
    EXPECT_EQ(settings(), "[quiva]\nHEIGHT=990\n");
}

TEST_F(MenuTest, HandEditedHeightFirstReturnsToTheBar) {
    writeSettings("; edited by hand\n[quiva]\nheight=3000\n");
    frmMain& w = load();
    frmMenu& m = w.menu();
    EXPECT_EQ(m.mnuPls->text(), "Show Playlist");

    m.mnuPls_Click();
    EXPECT_EQ(w.Height(), layout::Image1.height);
    EXPECT_EQ(m.mnuPls->text(), "Show Playlist");
    EXPECT_EQ(settings(), "; edited by hand\n[quiva]\nheight=990\n"); // the line's own spelling

    m.mnuPls_Click();
    EXPECT_EQ(w.Height(), settings::kPlaylistHeight);
}

TEST_F(MenuTest, PlaylistEntryKeepsWidthAndCutsTheOpenCreator) {
    frmMain& w = load();
    w.Image7_Click();
    w.menu().mnuPls_Click();
    EXPECT_EQ(w.size(), QSize(594, 372));
    w.menu().mnuPls_Click();
    EXPECT_EQ(w.size(), QSize(594, 66));
}

TEST_F(MenuTest, ExitEndsTheProgram) {
    frmMain& w = load();
    w.menu().mnuExit_Click();
    EXPECT_EQ(programEnds, 1);
}

TEST_F(MenuTest, RoundButtonPopsTheMenuUp) {
    frmMain& w = load();
    w.show();
    w.Image5_Click();
    EXPECT_TRUE(w.menu().mnuMenu->isVisible());
    w.menu().mnuMenu->hide();
}

// The Menu key and Shift+F10 pop it up at the button; Escape closes it.
TEST_F(MenuTest, MenuKeysPopTheMenuUpAtTheButton) {
    frmMain& w = load();
    w.show();
    for (const auto& [key, modifiers] :
         {std::pair{Qt::Key_Menu, Qt::KeyboardModifiers()}, {Qt::Key_F10, Qt::ShiftModifier}}) {
        QTest::keyClick(w.Image14, key, modifiers);
        ASSERT_TRUE(w.menu().mnuMenu->isVisible()) << key;
        EXPECT_EQ(w.menu().mnuMenu->pos(), w.Image5->mapToGlobal(w.Image5->rect().bottomLeft()));
        QTest::keyClick(w.menu().mnuMenu, Qt::Key_Escape);
        EXPECT_FALSE(w.menu().mnuMenu->isVisible());
    }
}

namespace {

void registerBrowserCommand(const char* command) {
    HKEY key = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "http\\shell\\open\\command", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command),
                   static_cast<DWORD>(std::strlen(command) + 1));
    RegCloseKey(key);
}

} // namespace

TEST_F(MenuTest, InformationOpensThePageInTheRegisteredBrowser) {
    registry::ScopedInMemoryStore registry;
    registerBrowserCommand("\"/opt/web browser/run\" --new-window \"%1\"");
    QStringList started;
    process::setStarter([&](const QString& program, const QStringList& arguments) {
        started << program << arguments;
        return true;
    });
    load().menu().info_Click();
    process::setStarter({});
    EXPECT_EQ(started, (QStringList{"/opt/web browser/run", kInfoPageUrl}));
    EXPECT_TRUE(asked.empty());
}

TEST_F(MenuTest, InformationWithoutBrowserSaysSo) {
    registry::ScopedInMemoryStore registry;
    load().menu().info_Click();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, "Unable to open URL. Install browser first!");
    EXPECT_EQ(asked[0].title, "Quiva");
}

TEST_F(MenuTest, AboutMinimisesTheMainWindowWhileTheBoxIsOpen) {
    frmMain& w = load();
    w.show();
    w.menu().mnuAbout_Click();
    auto boxes = QApplication::topLevelWidgets();
    frmAbout* box = nullptr;
    for (QWidget* top : boxes)
        if (auto* about = qobject_cast<frmAbout*>(top); about && about->isVisible())
            box = about;
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "About Quiva");
    EXPECT_TRUE(w.isMinimized());
    box->close();
}

// ---- Playlist building -------------------------------------------------------------------

namespace {

void openDirectory(frmMain& w, const QString& path) {
    ASSERT_TRUE(w.Dir1->setPath(path));
}

} // namespace

TEST_F(PlaylistBuildingTest, AddAndDoneOpenAndCloseTheCreator) {
    frmMain& w = load();
    w.Image7_Click();
    EXPECT_EQ(w.Width(), 8910);
    w.Image11_Click();
    EXPECT_EQ(w.Width(), 4395);
}

TEST_F(PlaylistBuildingTest, AddDirAppendsItsSongsAndRemembersIt) {
    const QString music = tree.folder("Music");
    tree.file("Music/Track 10.mp3");
    tree.file("Music/Track 2.mp3");
    tree.file("Music/readme.txt");
    frmMain& w = load();

    openDirectory(w, music);
    EXPECT_EQ(w.txtDir, music + "/");
    w.Image12_Click();

    EXPECT_EQ(playlist(), (QStringList{"Track 2", "Track 10"}));
    EXPECT_EQ(w.txtDirPath, music + "/");
    EXPECT_EQ(settings(), "[quiva]\nDIR=" + music.toUtf8() + "/\n");
    EXPECT_EQ(w.Width(), 4395); // only DONE closes the creator; it was never opened here
}

TEST_F(PlaylistBuildingTest, SameDirectoryTwiceListsEachSongTwice) {
    const QString music = tree.folder("Music");
    tree.file("Music/a.mp3");
    tree.file("Music/b.mp3");
    frmMain& w = load();
    openDirectory(w, music);
    w.Image12_Click();
    w.Image12_Click();
    EXPECT_EQ(playlist(), (QStringList{"a", "b", "a", "b"}));
}

TEST_F(PlaylistBuildingTest, SecondDirectoryResolvesEveryEntry) {
    const QString first = tree.folder("First");
    const QString second = tree.folder("Second");
    tree.file("First/old.mp3");
    tree.file("Second/new.mp3");
    frmMain& w = load();
    openDirectory(w, first);
    w.Image12_Click();
    openDirectory(w, second);
    w.Image12_Click();

    ASSERT_EQ(playlist(), (QStringList{"old", "new"}));
    w.lstPls->setListIndex(0);
    EXPECT_EQ(w.txtFullPath, second + "/old.mp3");
}

TEST_F(PlaylistBuildingTest, AddDirBeforeAnyDirectoryChoiceListsTheCurrentDirectory) {
    tree.file("cwd/here.mp3");
    QDir::setCurrent(tree.path("cwd"));
    frmMain& w = load();
    ASSERT_EQ(w.txtDir, "");
    w.lstPls->setItems({});

    w.Image12_Click();

    EXPECT_EQ(playlist(), QStringList{"here"});
    EXPECT_EQ(w.txtDirPath, QDir::cleanPath(tree.path("cwd")) + "/");
    EXPECT_EQ(settings(), "[quiva]\nDIR=\n");
}

TEST_F(PlaylistBuildingTest, RootDirectoryGetsASecondSeparator) {
    frmMain& w = load();
    openDirectory(w, "/");
    EXPECT_EQ(w.txtDir, "//");
}

TEST_F(PlaylistBuildingTest, RemoveTakesOutTheSelectedEntryOnly) {
    frmMain& w = load();
    w.lstPls->setItems({"a", "b", "c"});
    w.Image8_Click(); // nothing selected: nothing happens
    EXPECT_EQ(playlist().size(), 3);
    w.lstPls->setListIndex(1);
    const QString selectedPath = w.txtFullPath;
    w.Image8_Click();
    EXPECT_EQ(playlist(), (QStringList{"a", "c"}));
    EXPECT_EQ(w.txtFullPath, selectedPath);
}

TEST_F(PlaylistBuildingTest, ClearAsksFirstAndOnlyYesEmptiesTheList) {
    frmMain& w = load();
    w.show();
    w.lstPls->setItems({"a", "b"});

    answer = msgbox::kIdNo;
    w.Image9_Click();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, "You are about to clear the playlist, continue?");
    EXPECT_EQ(asked[0].title, "Quiva - Clear Playlist?");
    EXPECT_EQ(asked[0].buttons, msgbox::kYesNo);
    EXPECT_EQ(playlist().size(), 2);
    EXPECT_TRUE(w.isVisible());

    answer = msgbox::kIdYes;
    w.Image9_Click();
    EXPECT_TRUE(playlist().isEmpty());
    EXPECT_TRUE(w.isVisible());
}

TEST_F(PlaylistBuildingTest, WindowIsHiddenWhileTheQuestionIsAsked) {
    frmMain& w = load();
    w.show();
    bool visibleWhileAsked = true;
    msgbox::setAnswerer([&](const QString&, int, const QString&) {
        visibleWhileAsked = w.isVisible();
        return int(msgbox::kIdNo);
    });
    w.Image9_Click();
    EXPECT_FALSE(visibleWhileAsked);
}

// ---- Window chrome and hints -------------------------------------------------------------

TEST_F(ChromeTest, DragMovesByThePointersTravelWithTheLeftButton) {
    frmMain& w = load();
    w.move(100, 100);
    w.Image2_MouseDown(1, 300, 150);
    w.Image2_MouseMove(1, 450, 300); // 150 twips = 10 pixels each way
    EXPECT_EQ(w.pos(), QPoint(110, 110));
    w.Image2_MouseMove(1 | 2, 450, 300); // left and right together still drag
    EXPECT_EQ(w.pos(), QPoint(120, 120));
}

TEST_F(ChromeTest, NoLeftButtonNoMove) {
    frmMain& w = load();
    w.move(100, 100);
    w.Image2_MouseDown(2, 300, 150);
    w.Image2_MouseMove(2, 900, 900); // right button alone
    w.Image2_MouseMove(0, 900, 900); // no button
    EXPECT_EQ(w.pos(), QPoint(100, 100));
}

// Where only the compositor can place windows, the left button's press asks it for an
// interactive move (a headless compositor has no pointer to show one), and the program's own
// steps leave the window alone.
TEST_F(ChromeTest, WhereTheCompositorMovesWindowsTheLeftPressHandsTheDragToIt) {
    frmMain& w = load();
    w.move(100, 100);
    std::vector<QWidget*> asked;
    windowmove::setSystemMover([&](QWidget* window) {
        asked.push_back(window);
        return true;
    });
    w.Image2_MouseDown(2, 300, 150); // the right button does not drag
    EXPECT_TRUE(asked.empty());
    w.Image2_MouseDown(1, 300, 150);
    w.Image2_MouseMove(1, 450, 300);
    windowmove::setSystemMover({});
    EXPECT_EQ(asked, std::vector<QWidget*>{&w});
    EXPECT_EQ(w.pos(), QPoint(100, 100));
}

TEST_F(ChromeTest, CrossClosesAndEndsTheProgram) {
    frmMain& w = load();
    w.show();
    w.Image4_Click();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(programEnds, 1);
}

TEST_F(ChromeTest, HintsFollowThePointerAndStay) {
    frmMain& w = load();
    EXPECT_EQ(w.lbl2->caption(),
              "You can add music to the playlist by selecting 'Add' and select a directory.");
    w.Image8_MouseMove();
    EXPECT_EQ(w.lbl2->caption(), "Select songs to remove and click here");
    w.Image6_MouseMove();
    EXPECT_EQ(w.lbl2->caption(), "You can add music to the playlist by selecting 'Add' and "
                                 "either adding a single song or entire directory.");
    w.Image9_MouseMove();
    EXPECT_EQ(w.lbl2->caption(), "Clear the entire playlist");
    w.Image7_MouseMove();
    EXPECT_EQ(w.lbl2->caption(), "Add directory to playlist");
}

TEST_F(ChromeTest, HintKeepsTheStripPosition) {
    frmMain& w = load();
    w.tmrScroll2_Timer();
    const double left = w.lbl2->leftTwips();
    w.Image9_MouseMove();
    EXPECT_EQ(w.lbl2->leftTwips(), left);
}
