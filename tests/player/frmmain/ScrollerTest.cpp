#include "tests/player/frmmain/MainWindowFixture.h"

#include "platform/ui/Label.h"
#include "player/Scroller.h"

#include <QTimer>

using ScrollerTest = MainWindowTest;

TEST(ScrollStep, TitleWrapsOnlyOnceItsRightEdgeHasPassed) {
    // The design caption is 885 twips wide in a 3255-twip frame, starting at 3120.
    double left = 3120;
    for (int tick = 1; tick <= 80; ++tick)
        left = nextScrollLeft(left, 885, 3255, 10);
    EXPECT_EQ(left, -880); // 5 twips still showing
    left = nextScrollLeft(left, 885, 3255, 10);
    EXPECT_EQ(left, 3285); // -930 + 885 < 0: back in from the right within the same tick
}

TEST(ScrollStep, RightEdgeExactlyAtZeroDoesNotWrapYet) {
    EXPECT_EQ(nextScrollLeft(-50, 100, 3255, 10), -100);
    EXPECT_EQ(nextScrollLeft(-55, 100, 3255, 10), 3285);
}

TEST(ScrollStep, SpeedFactorScalesTheStep) {
    EXPECT_EQ(nextScrollLeft(1000, 10, 3255, 2), 990);
    EXPECT_EQ(nextScrollLeft(1000, 10, 3255, 0), 1000);
}

TEST_F(ScrollerTest, BothStripsMoveFiftyTwipsATickAndWrapAtTheirFrames) {
    frmMain& w = load();
    EXPECT_EQ(w.lbl->leftTwips(), 3120);
    EXPECT_EQ(w.lbl2->leftTwips(), 3840);
    EXPECT_EQ(w.lbl2->topTwips(), 30);
    w.tmrScroll_Timer();
    w.tmrScroll2_Timer();
    EXPECT_EQ(w.lbl->leftTwips(), 3070);
    EXPECT_EQ(w.lbl2->leftTwips(), 3790);

    // A wide caption scrolls through in full before it wraps.
    w.lbl->setCaption(QString(200, 'W'));
    const double width = w.lbl->widthTwips();
    ASSERT_GT(width, 3255);
    int ticks = 0;
    for (double before = w.lbl->leftTwips(); ticks < 10000; ++ticks) {
        w.tmrScroll_Timer();
        if (w.lbl->leftTwips() > before)
            break; // wrapped
        before = w.lbl->leftTwips();
    }
    EXPECT_EQ(w.lbl->leftTwips(), 3255 + 30);
    EXPECT_GT(ticks * 50, width); // the whole caption left the frame first
}

TEST_F(ScrollerTest, TimersRunEveryHundredMilliseconds) {
    frmMain& w = load();
    EXPECT_TRUE(w.tmrScroll->isActive());
    EXPECT_TRUE(w.tmrScroll2->isActive());
    EXPECT_EQ(w.tmrScroll->interval(), 100);
    EXPECT_EQ(w.tmrScroll2->interval(), 100);
}
