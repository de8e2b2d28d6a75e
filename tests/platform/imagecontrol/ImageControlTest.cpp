// Which picture an image control paints at each device pixel ratio, and that smoothing at
// fractional ratios never blends a layered window's key colour into the picture.

#include "platform/ui/ImageControl.h"
#include "platform/ui/LayeredWindow.h"

#include "tests/support/TempTree.h"

#include <QImage>
#include <gtest/gtest.h>

#include <set>

namespace {

const QRgb kKey = qRgb(255, 128, 0);
const QRgb kBlue = qRgb(20, 40, 200);

// A picture whose left half is the key and right half blue, at `scale` pixels a window pixel;
// the 2x one also has a white dot that the 1x one lacks, so the two are told apart.
QImage halves(int scale) {
    QImage image(QSize(8, 4) * scale, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, x < 4 * scale ? kKey : kBlue);
    if (scale == 2)
        image.setPixel(15, 0, qRgb(255, 255, 255));
    return image;
}

std::set<QRgb> coloursIn(const QImage& image, const QRect& part) {
    std::set<QRgb> colours;
    for (int y = part.top(); y <= part.bottom(); ++y)
        for (int x = part.left(); x <= part.right(); ++x)
            colours.insert(image.pixel(x, y) | 0xff000000);
    return colours;
}

class ImageControlPicturesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(halves(1).save(tree.path("skin.png")));
        ASSERT_TRUE(halves(2).save(tree.path("skin@2x.png")));
        window.resize(100, 100);
        control = new ImageControl(&window, tree.path("skin.png"));
        control->setGeometry(0, 0, 8, 4);
    }
    void keyTheWindow() {
        SetWindowLongA(&window, GWL_EXSTYLE, WS_EX_LAYERED);
        ASSERT_NE(SetLayeredWindowAttributes(&window, 0x000080FF, 0, LWA_COLORKEY), 0);
    }

    TempTree tree;
    QWidget window;
    ImageControl* control = nullptr;
};

TEST_F(ImageControlPicturesTest, WholeRatiosGetThePictureDrawnForThemPixelForPixel) {
    const struct {
        qreal ratio;
        QImage expected;
    } cases[] = {{1.0, halves(1)}, {2.0, halves(2)}};
    for (const auto& [ratio, expected] : cases) {
        const QPixmap painted = control->pictureFor(ratio);
        EXPECT_EQ(painted.devicePixelRatio(), ratio);
        EXPECT_EQ(painted.toImage().convertToFormat(QImage::Format_RGB32), expected)
            << "at " << ratio;
    }
}

TEST_F(ImageControlPicturesTest, FractionalRatiosSmoothTheLargerPictureWithNoKeyBlendedIn) {
    keyTheWindow();
    const QImage painted = control->pictureFor(1.5).toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(painted.size(), QSize(12, 6));
    // Smoothed: the 2x picture's white dot is blended with the blue around it.
    std::set<QRgb> blended = coloursIn(painted, QRect(6, 0, 6, 6));
    blended.erase(kBlue);
    blended.erase(qRgb(255, 255, 255));
    EXPECT_FALSE(blended.empty());
    // The key is covered by the blue beside it before smoothing, so no pixel is orange or
    // tinted orange (red above green); the window's shape keeps that half see-through.
    for (const QRgb colour : coloursIn(painted, painted.rect()))
        EXPECT_LE(qRed(colour), qGreen(colour)) << std::hex << colour;
    EXPECT_EQ(coloursIn(painted, QRect(0, 3, 12, 3)), std::set<QRgb>{kBlue});
}

TEST_F(ImageControlPicturesTest, WithoutKeyFractionalRatiosBlendFreely) {
    const QImage painted = control->pictureFor(1.5).toImage().convertToFormat(QImage::Format_RGB32);
    const std::set<QRgb> border = coloursIn(painted, QRect(5, 3, 2, 3));
    EXPECT_GT(border.size(), 1u) << "the halves meet in mixed colours";
}

TEST(ImageControlTest, ClickAreaWithoutPictureAndPictureWithoutLargerOne) {
    TempTree tree;
    ASSERT_TRUE(halves(1).save(tree.path("only.png")));
    QWidget window;
    ImageControl area(&window);
    EXPECT_TRUE(area.pictureFor(2).isNull());
    ImageControl single(&window, tree.path("only.png"));
    EXPECT_EQ(single.pictureFor(2).toImage().convertToFormat(QImage::Format_RGB32), halves(1));
}

} // namespace
