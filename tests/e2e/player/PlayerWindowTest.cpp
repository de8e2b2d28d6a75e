#include "tests/support/PlayerProcess.h"
#include "tests/support/Poll.h"

#include <gtest/gtest.h>

namespace {

class PlayerWindowTest : public ::testing::Test {
protected:
    void startWith(const QByteArray& settings) {
        windowId = player.start(settings);
        ASSERT_FALSE(windowId.isEmpty()) << "the player never showed";
    }

    TempTree tree;
    PlayerProcess player{tree};
    QString windowId;
};

TEST_F(PlayerWindowTest, StartsBorderlessAtTheRememberedHeight) {
    tree.file("music/a.mp3");
    startWith(settingsText(tree.path("music")));
    const QRect g = player.geometry(windowId);
    EXPECT_EQ(g.width(), 293);
    EXPECT_EQ(g.height(), kPanelHeightPx);
}

// Our pictures are all PNG, read by the built-in decoder: an image plug-in in the started player
// means something detects formats again, and every plug-in's libraries stay in its memory.
TEST_F(PlayerWindowTest, StartsWithoutLoadingImagePlugins) {
    startWith(settingsText());
    const QByteArray maps = readAll(QStringLiteral("/proc/%1/maps").arg(player.processId()));
    ASSERT_TRUE(maps.contains("libQt6Gui")) << "the player's memory map could not be read";
    EXPECT_FALSE(maps.contains("/imageformats/")) << maps.toStdString();
}

TEST_F(PlayerWindowTest, MenuShowsThePlaylistAndExitEndsTheProgram) {
    startWith(settingsText({}, layout::Image1.height));
    ASSERT_EQ(player.geometry(windowId).height(), kBarHeightPx);

    ASSERT_TRUE(player.openMenu());
    player.xdotool({"key", "Down", "Return"});
    EXPECT_TRUE(eventually([&] { return player.geometry(windowId).height() == kPanelHeightPx; }));
    // The window takes its new height before the handler writes it down.
    EXPECT_TRUE(eventually([&] { return readAll(player.settingsFile()) == settingsText(); }));

    ASSERT_TRUE(player.openMenu());
    player.xdotool({"key", "Up", "Return"}); // the last entry: Exit
    ASSERT_TRUE(player.waitForExit(5000));
    EXPECT_EQ(player.exitCode(), 0);
}

} // namespace
