#include "tests/player/frmmain/MainWindowFixture.h"

#include "platform/mci/Mci.h"
#include "platform/ui/ImageControl.h"
#include "platform/ui/Label.h"
#include "player/Settings.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTest>

#include <string>
#include <vector>

namespace {

const std::string kPlay = "play mp3play";
const std::string kStop = "stop mp3play";
const std::string kClose = "close mp3play";
const std::string kOpenNothing = "open  type mpegvideo alias mp3play";

// Commands reach a recorder instead of the sound system.
class TransportTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        mci::setCommandRecorder([this](std::string_view command) {
            sent.emplace_back(command);
            return 0u;
        });
        load();
        window->txtDirPath = tree.folder("m") + "/";
        window->lstPls->setItems({"a", "b", "c"});
    }
    void TearDown() override {
        mci::setCommandRecorder({});
        MainWindowTest::TearDown();
    }

    // The commands PlaySong sends for a path that names no file.
    static std::vector<std::string> playingNothing() {
        return {kStop, kClose, kOpenNothing, kPlay};
    }
    std::vector<std::string> takeSent() { return std::exchange(sent, {}); }

    void focusPlaylist() {
        window->setHeight(settings::kPlaylistHeight); // a hidden list takes no focus
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        window->lstPls->setFocus(Qt::ActiveWindowFocusReason);
        ASSERT_TRUE(window->lstPls->hasFocus());
    }

    std::vector<std::string> sent;
};

TEST_F(TransportTest, ClickSelectsWithoutPlayingAndDoubleClickPlays) {
    window->lstPls->setListIndex(1);
    EXPECT_EQ(window->txtFullPath, window->txtDirPath + "b.mp3");
    EXPECT_TRUE(takeSent().empty());

    tree.file("m/b.mp3");
    window->lstPls_DblClick();
    const std::vector<std::string> commands = takeSent();
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_EQ(commands[0], kStop);
    EXPECT_EQ(commands[1], kClose);
    EXPECT_TRUE(commands[2].starts_with("open ")) << commands[2];
    EXPECT_TRUE(commands[2].ends_with(" type mpegvideo alias mp3play")) << commands[2];
    EXPECT_NE(commands[2], kOpenNothing);
    EXPECT_EQ(commands[3], kPlay);
    EXPECT_EQ(window->lbl->caption(), "b");
}

TEST_F(TransportTest, NextOnTheLastEntryPlaysItAgain) {
    window->lstPls->setListIndex(2);
    window->Image17_Click();
    EXPECT_EQ(window->lstPls->listIndex(), 2);
    EXPECT_EQ(window->txtFullPath, window->txtDirPath + "c.mp3");
    EXPECT_EQ(takeSent().size(), 4u);
    EXPECT_EQ(window->lbl->caption(), "c");
}

TEST_F(TransportTest, PreviousOnTheFirstEntrySelectsNothingAndStops) {
    window->lstPls->setListIndex(0);
    window->Image13_Click();
    EXPECT_EQ(window->lstPls->listIndex(), -1);
    EXPECT_EQ(window->txtFullPath, window->txtDirPath + ".mp3");
    EXPECT_EQ(takeSent(), playingNothing());
    EXPECT_EQ(window->lbl->caption(), "");
}

TEST_F(TransportTest, PreviousWithNothingSelectedPlaysThePathBuiltLast) {
    window->Image13_Click(); // index -2 is refused; the path is still empty
    EXPECT_EQ(window->lstPls->listIndex(), -1);
    EXPECT_EQ(window->txtFullPath, "");
    EXPECT_EQ(takeSent(), playingNothing());
    EXPECT_EQ(window->lbl->caption(), "");
}

TEST_F(TransportTest, NextWithNothingSelectedPlaysTheFirstEntry) {
    window->Image17_Click();
    EXPECT_EQ(window->lstPls->listIndex(), 0);
    EXPECT_EQ(window->txtFullPath, window->txtDirPath + "a.mp3");
    EXPECT_EQ(window->lbl->caption(), "a");
}

TEST_F(TransportTest, StepsOnAnEmptyPlaylistReplayThePathAndEmptyTheDisplay) {
    window->lstPls->setItems({});
    window->Image17_Click();
    window->Image13_Click();
    EXPECT_EQ(window->lstPls->listIndex(), -1);
    EXPECT_EQ(takeSent().size(), 8u);
    EXPECT_EQ(window->lbl->caption(), "");
}

// A window manager gives the window the focus at start, and the playlist takes it: its caret is
// on the first entry, but nothing is selected.
TEST_F(TransportTest, WithFocusAndNothingSelectedRemoveDoesNothingAndNextPlaysTheFirst) {
    focusPlaylist();
    window->Image8_Click();
    EXPECT_EQ(playlist(), QStringList({"a", "b", "c"}));
    window->Image17_Click();
    EXPECT_EQ(window->lstPls->listIndex(), 0);
    EXPECT_EQ(window->txtFullPath, window->txtDirPath + "a.mp3");
    EXPECT_EQ(window->lbl->caption(), "a");
}

TEST_F(TransportTest, RemoveTakesTheSelectedEntryOnlyAndLeavesNothingSelected) {
    focusPlaylist();
    window->lstPls->setListIndex(1);
    window->Image8_Click();
    window->Image8_Click();
    EXPECT_EQ(playlist(), QStringList({"a", "c"}));
    EXPECT_EQ(window->lstPls->listIndex(), -1);
    EXPECT_TRUE(window->lstPls->selectedItems().isEmpty());
    EXPECT_EQ(window->txtFullPath, window->txtDirPath + "b.mp3"); // removing changes no path
    window->Image17_Click();
    EXPECT_EQ(window->lbl->caption(), "a");
}

TEST_F(TransportTest, PauseAndResumeAlternateWhateverIsOpen) {
    window->Image15_Click();
    EXPECT_EQ(takeSent(), std::vector<std::string>{"pause mp3play"});
    EXPECT_EQ(window->lblmute, "pause");
    window->Image15_Click();
    EXPECT_EQ(takeSent(), std::vector<std::string>{"resume mp3play"});
    EXPECT_EQ(window->lblmute, "play");
}

TEST_F(TransportTest, PauseThenAnotherSongTakesTwoClicksToPauseAgain) {
    window->Image15_Click();
    window->lstPls->setListIndex(1);
    window->lstPls_DblClick();
    EXPECT_EQ(window->lblmute, "pause"); // starting a song leaves the word alone
    takeSent();
    window->Image15_Click();
    EXPECT_EQ(takeSent(), std::vector<std::string>{"resume mp3play"});
    window->Image15_Click();
    EXPECT_EQ(takeSent(), std::vector<std::string>{"pause mp3play"});
}

TEST_F(TransportTest, PlayAfterAClickKeepsTheOldTitle) {
    window->lstPls->setListIndex(0);
    window->lstPls_DblClick();
    window->lstPls->setListIndex(2);
    takeSent();
    window->Image14_Click();
    EXPECT_EQ(takeSent().size(), 4u);
    EXPECT_EQ(window->lbl->caption(), "a");
    EXPECT_EQ(window->txtFullPath, window->txtDirPath + "c.mp3");
}

TEST_F(TransportTest, StopAndTheHiddenButtonCloseEverything) {
    window->lstPls->setListIndex(0);
    window->lstPls_DblClick();
    window->Image15_Click();
    takeSent();
    window->Image16_Click();
    window->Command1_Click();
    EXPECT_EQ(takeSent(), (std::vector<std::string>{kStop, "close all", kStop, "close all"}));
    EXPECT_EQ(window->lblmute, "pause");
    EXPECT_EQ(window->lbl->caption(), "a");
}

// As the keyboard sends it: a letter's text is the letter, other keys have none.
void pressKey(QWidget* to, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    const bool letter = key >= Qt::Key_A && key <= Qt::Key_Z;
    QKeyEvent press(QEvent::KeyPress, key, modifiers, letter ? QString(QChar(key).toLower()) : "");
    QApplication::sendEvent(to, &press);
}

// Each key runs the handler of the button it stands for, wherever the focus is; a list keeps
// its letters for jumping to an entry.
TEST_F(TransportTest, KeysRunTheButtonsHandlers) {
    focusPlaylist();
    QWidget *list = window->lstPls, *play = window->Image14, *slider = window->SliderVol;
    const std::vector<std::string> none, played = playingNothing(), stopAll{kStop, "close all"},
                                         pause{"pause mp3play"}, resume{"resume mp3play"};
    const struct {
        QWidget* focus;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const std::vector<std::string>& sent;
        int selected;
    } steps[] = {
        {list, Qt::Key_B, {}, none, 1},
        {list, Qt::Key_Return, {}, played, 1},
        {play, Qt::Key_Space, {}, played, 1},
        {play, Qt::Key_Return, {}, played, 1},
        {slider, Qt::Key_B, {}, played, 2},
        {slider, Qt::Key_Z, {}, played, 1},
        {play, Qt::Key_C, {}, pause, 1},
        {play, Qt::Key_MediaPause, {}, resume, 1},
        {play, Qt::Key_V, {}, stopAll, 1},
        {play, Qt::Key_MediaStop, {}, stopAll, 1},
        {play, Qt::Key_X, {}, played, 1},
        {play, Qt::Key_X, Qt::ControlModifier, none, 1},
        {play, Qt::Key_MediaNext, {}, played, 2},
        {play, Qt::Key_MediaPrevious, {}, played, 1},
        {play, Qt::Key_MediaPlay, {}, played, 1},
        {play, Qt::Key_MediaTogglePlayPause, {}, played, 1},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.key);
        step.focus->setFocus(Qt::TabFocusReason);
        pressKey(step.focus, step.key, step.modifiers);
        EXPECT_EQ(takeSent(), step.sent);
        EXPECT_EQ(window->lstPls->listIndex(), step.selected);
    }
}

TEST_F(TransportTest, ExitStopsBeforeEnding) {
    window->menu().mnuExit_Click();
    EXPECT_EQ(takeSent(), (std::vector<std::string>{kStop, "close all"}));
    EXPECT_EQ(programEnds, 1);
}

TEST_F(TransportTest, CrossEndsWithoutAnyCommand) {
    window->Image4_Click();
    EXPECT_TRUE(takeSent().empty());
    EXPECT_EQ(programEnds, 1);
}

} // namespace
