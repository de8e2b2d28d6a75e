// The colour key on a real X server: where the window is orange, the screen shows what lies
// beneath it (the root window), at the first size and after a resize.

#include "platform/ui/LayeredWindow.h"

#include "tests/support/Xvfb.h"

#include <QApplication>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

void paint(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QImage screenNow() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
}

// Waits until the screen shows `expected` at `point` (screen coordinates).
bool screenShows(const QPoint& point, QRgb expected) {
    return QTest::qWaitFor([&] { return screenNow().pixel(point) == expected; }, 5000);
}

} // namespace

TEST(LayeredWindowOnX11Test, OrangeShowsTheRootWindowAtBothSizes) {
    Xvfb server;
    if (!server.running())
        GTEST_SKIP() << "Xvfb could not be started";
    qputenv("DISPLAY", server.display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    int argc = 1;
    char name[] = "LayeredWindowX11Test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");

    const QImage root = screenNow();
    const QPoint origin(100, 100);
    QWidget window(nullptr, Qt::FramelessWindowHint);
    paint(&window, QColor(255, 128, 0));
    auto* white = new QWidget(&window);
    paint(white, Qt::white);
    white->setGeometry(10, 10, 50, 30);
    window.setGeometry(QRect(origin, QSize(200, 100)));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QPoint orangeSpot = origin + QPoint(150, 70);
    ASSERT_TRUE(screenShows(orangeSpot, qRgb(255, 128, 0)));

    SetWindowLongA(&window, GWL_EXSTYLE, GetWindowLongA(&window, GWL_EXSTYLE) | WS_EX_LAYERED);
    ASSERT_NE(SetLayeredWindowAttributes(&window, 0x000080FF, 0, LWA_COLORKEY), 0);
    EXPECT_TRUE(screenShows(orangeSpot, root.pixel(orangeSpot)));
    EXPECT_TRUE(screenShows(origin + QPoint(20, 20), qRgb(255, 255, 255)));

    // Larger: the new orange area is see-through too; the white panel still shows.
    window.resize(400, 300);
    const QPoint newSpot = origin + QPoint(350, 250);
    EXPECT_TRUE(screenShows(newSpot, root.pixel(newSpot)));
    EXPECT_TRUE(screenShows(origin + QPoint(20, 20), qRgb(255, 255, 255)));
    EXPECT_NE(root.pixel(origin + QPoint(20, 20)), qRgb(255, 255, 255));
}
