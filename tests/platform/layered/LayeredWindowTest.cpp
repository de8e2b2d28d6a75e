#include "platform/ui/LayeredWindow.h"

#include <QCoreApplication>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

constexpr COLORREF kOrange = 0x000080FF;

// A window whose bare background is orange, with one white panel and one orange panel on it.
struct SkinnedWindow {
    QWidget window;
    QWidget* white = new QWidget(&window);
    QWidget* orangePanel = new QWidget(&window);

    SkinnedWindow() {
        paint(&window, QColor(255, 128, 0));
        paint(white, Qt::white);
        paint(orangePanel, QColor(255, 128, 0));
        window.resize(200, 100);
        white->setGeometry(10, 10, 50, 30);
        orangePanel->setGeometry(100, 10, 50, 30);
    }
    static void paint(QWidget* widget, const QColor& colour) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Window, colour);
        widget->setPalette(palette);
        widget->setAutoFillBackground(true);
    }
    bool makeLayered(COLORREF key) {
        SetWindowLongA(&window, GWL_EXSTYLE, GetWindowLongA(&window, GWL_EXSTYLE) | WS_EX_LAYERED);
        return SetLayeredWindowAttributes(&window, key, 0, LWA_COLORKEY) != 0;
    }
};

// Lets queued work (the deferred reshape) run.
void settle() {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// Adds a white panel that only becomes visible at the larger size, and grows the window to it.
void growOverAWhitePanel(SkinnedWindow& w) {
    auto* lower = new QWidget(&w.window);
    SkinnedWindow::paint(lower, Qt::white);
    lower->setGeometry(0, 150, 20, 20);
    lower->show();
    w.window.resize(200, 300);
}

} // namespace

TEST(LayeredWindowTest, ExtendedStyleIsKeptPerWindowAndNullWindowsFail) {
    QWidget a, b;
    EXPECT_EQ(GetWindowLongA(&a, GWL_EXSTYLE), 0);
    EXPECT_EQ(SetWindowLongA(&a, GWL_EXSTYLE, WS_EX_LAYERED | 0x8), 0);
    EXPECT_EQ(SetWindowLongA(&a, GWL_EXSTYLE, WS_EX_LAYERED), WS_EX_LAYERED | 0x8);
    EXPECT_EQ(GetWindowLongA(&a, GWL_EXSTYLE), WS_EX_LAYERED);
    EXPECT_EQ(GetWindowLongA(&b, GWL_EXSTYLE), 0);
    EXPECT_EQ(GetWindowLongA(&a, -16), 0);
    EXPECT_EQ(GetWindowLongA(nullptr, GWL_EXSTYLE), 0);
    EXPECT_EQ(SetWindowLongA(nullptr, GWL_EXSTYLE, WS_EX_LAYERED), 0);
    EXPECT_EQ(SetLayeredWindowAttributes(nullptr, kOrange, 0, LWA_COLORKEY), 0);
}

TEST(LayeredWindowTest, ColourKeyNeedsTheLayeredBit) {
    SkinnedWindow w;
    w.window.show();
    EXPECT_EQ(SetLayeredWindowAttributes(&w.window, kOrange, 0, LWA_COLORKEY), 0);
    EXPECT_TRUE(w.window.mask().isEmpty());
}

TEST(LayeredWindowTest, KeyColouredPixelsLeaveTheShapeOthersStay) {
    SkinnedWindow w;
    w.window.show();
    ASSERT_TRUE(w.makeLayered(kOrange));
    const QRegion mask = w.window.mask();
    EXPECT_EQ(mask, QRegion(10, 10, 50, 30));     // only the white panel remains
    EXPECT_FALSE(mask.contains(QPoint(120, 20))); // an orange child is see-through, too
    EXPECT_EQ(w.window.windowOpacity(), 1.0);     // alpha is ignored without LWA_ALPHA
}

TEST(LayeredWindowTest, HiddenWindowIsShapedWhenShown) {
    SkinnedWindow w;
    ASSERT_TRUE(w.makeLayered(kOrange));
    EXPECT_TRUE(w.window.mask().isEmpty());
    w.window.show();
    EXPECT_EQ(w.window.mask(), QRegion(10, 10, 50, 30));
}

TEST(LayeredWindowTest, ShapeFollowsSizeChangesAndExplicitInvalidation) {
    SkinnedWindow w;
    w.window.show();
    ASSERT_TRUE(w.makeLayered(kOrange));

    growOverAWhitePanel(w);
    settle();
    EXPECT_EQ(w.window.mask(), QRegion(10, 10, 50, 30) + QRegion(0, 150, 20, 20));

    // A look change without a size change waits for the explicit invalidation.
    SkinnedWindow::paint(w.orangePanel, Qt::white);
    w.window.repaint();
    settle();
    EXPECT_FALSE(w.window.mask().contains(QPoint(120, 20)));
    layered::invalidateLayeredWindow(&w.window);
    settle();
    EXPECT_TRUE(w.window.mask().contains(QPoint(120, 20)));
}

// A resize leaves the new shape pending; the paint that would show the resized window applies
// it first, so no frame shows the key colour where the window grew.
TEST(LayeredWindowTest, PendingShapeIsAppliedBeforeThePaintThatShowsIt) {
    SkinnedWindow w;
    w.window.show();
    ASSERT_TRUE(w.makeLayered(kOrange));
    growOverAWhitePanel(w);
    EXPECT_FALSE(w.window.mask().contains(QPoint(5, 155)));
    QEvent paintNow(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(&w.window, &paintNow);
    EXPECT_TRUE(w.window.mask().contains(QPoint(5, 155)));
}

TEST(LayeredWindowTest, WindowEntirelyInTheKeyColourVanishes) {
    QWidget window;
    SkinnedWindow::paint(&window, QColor(255, 128, 0));
    window.resize(50, 50);
    window.show();
    SetWindowLongA(&window, GWL_EXSTYLE, WS_EX_LAYERED);
    ASSERT_NE(SetLayeredWindowAttributes(&window, kOrange, 0, LWA_COLORKEY), 0);
    EXPECT_FALSE(window.mask().isEmpty());
    EXPECT_TRUE((window.mask() & QRegion(window.rect())).isEmpty());
}

TEST(LayeredWindowTest, OtherKeyLeavesTheOrangeAndClearingTheBitEndsTheShape) {
    SkinnedWindow w;
    w.window.show();
    ASSERT_TRUE(w.makeLayered(0x00FFFFFF)); // white is the key now
    EXPECT_TRUE(w.window.mask().contains(QPoint(5, 5)));
    EXPECT_FALSE(w.window.mask().contains(QPoint(20, 20)));
    EXPECT_EQ(layered::colourKey(&w.window), qRgb(255, 255, 255));

    SetWindowLongA(&w.window, GWL_EXSTYLE, 0);
    EXPECT_TRUE(w.window.mask().isEmpty());
    EXPECT_EQ(layered::colourKey(&w.window), std::nullopt);
    w.window.resize(300, 300);
    settle();
    EXPECT_TRUE(w.window.mask().isEmpty());
}
