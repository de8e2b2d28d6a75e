// The checked-in skin pictures and icons: they are exactly what the generator draws, have the
// sizes and colour depths the windows expect, and show buttons and fields where the window's
// click areas and controls lie.

#include "player/Layout.h"
#include "tests/support/TempTree.h"

#include <QImage>
#include <QProcess>
#include <QRect>

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

namespace {

const QRgb kKey = qRgb(255, 128, 0);
const QRgb kField = qRgb(126, 152, 161);

const char* const kGenerated[] = {
    "player/resources/skin-bar.png",           "player/resources/skin-bar@2x.png",
    "player/resources/skin-playlist.png",      "player/resources/skin-playlist@2x.png",
    "player/resources/skin-creator.png",       "player/resources/skin-creator@2x.png",
    "player/resources/quiva-16.png",           "player/resources/quiva-24.png",
    "player/resources/quiva-32.png",           "player/resources/quiva-48.png",
    "player/resources/quiva-64.png",           "player/resources/quiva-128.png",
    "player/resources/quiva-256.png",          "player/resources/about-icon.png",
    "volume/resources/dalvex-face.png",        "volume/resources/dalvex-toolbox.png",
    "platform/ui/resources/folder-open.png",   "platform/ui/resources/folder-open@2x.png",
    "platform/ui/resources/folder-closed.png", "platform/ui/resources/folder-closed@2x.png",
    "player/resources/about-icon@2x.png",
};

QString sourcePath(const QString& relative) {
    return qEnvironmentVariable("QUIVA_SOURCE_DIR") + QLatin1Char('/') + relative;
}

QImage checkedIn(const char* relative) {
    return QImage(sourcePath(QString::fromLatin1(relative)));
}

// The picture drawn for `scale` device pixels a window pixel: NAME.png or NAME@2x.png.
QImage checkedIn(const char* relative, int scale) {
    QString path = QString::fromLatin1(relative);
    if (scale == 2)
        path.replace(QStringLiteral(".png"), QStringLiteral("@2x.png"));
    return QImage(sourcePath(path));
}

// A picture's pixels under a window rectangle given in twips. The rectangle is widened to
// whole pixels on every side, so the check holds whether the window rounds or truncates.
struct Picture {
    const char* file;
    layout::Area area;
};

QRect pixelsUnder(const Picture& picture, const layout::Area& area, int scale = 1) {
    const int x1 = static_cast<int>(std::floor(area.left / 15.0));
    const int y1 = static_cast<int>(std::floor(area.top / 15.0));
    const int x2 = static_cast<int>(std::ceil((area.left + area.width) / 15.0));
    const int y2 = static_cast<int>(std::ceil((area.top + area.height) / 15.0));
    const QPoint origin(picture.area.left / 15, picture.area.top / 15);
    const QRect inWindowPixels(QPoint(x1, y1) - origin, QPoint(x2 - 1, y2 - 1) - origin);
    return QRect(inWindowPixels.topLeft() * scale, inWindowPixels.size() * scale);
}

int countPixels(const QImage& image, const QRect& rect, QRgb colour) {
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x)
            count += (image.pixel(x, y) & 0xffffff) == (colour & 0xffffff) ? 1 : 0;
    }
    return count;
}

std::set<QRgb> coloursOf(const QImage& image) {
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    }
    return colours;
}

const Picture kBar{"player/resources/skin-bar.png", layout::Image1};
const Picture kPlaylist{"player/resources/skin-playlist.png", layout::Image6};
const Picture kCreator{"player/resources/skin-creator.png", layout::Image10};

struct Area {
    const Picture* picture;
    const char* name;
    layout::Area area;
};

// Click areas, and the labels that stand in for one.
const Area kClickAreas[] = {
    {&kBar, "Image2", layout::Image2},       {&kBar, "Image3", layout::Image3},
    {&kBar, "Image4", layout::Image4},       {&kBar, "Image5", layout::Image5},
    {&kBar, "Image13", layout::Image13},     {&kBar, "Image14", layout::Image14},
    {&kBar, "Image15", layout::Image15},     {&kBar, "Image16", layout::Image16},
    {&kBar, "Image17", layout::Image17},     {&kPlaylist, "Image7", layout::Image7},
    {&kPlaylist, "Image8", layout::Image8},  {&kPlaylist, "Image9", layout::Image9},
    {&kCreator, "Image12", layout::Image12}, {&kCreator, "Image11", layout::Image11},
    {&kCreator, "Label1", layout::Label1},
};

// Controls drawn over a field of their own background colour.
const Area kFields[] = {
    {&kBar, "pic", layout::pic},
    {&kPlaylist, "lstPls", layout::lstPls},
    {&kPlaylist, "pic2", layout::pic2},
};

} // namespace

TEST(SkinPicturesTest, CheckedInFilesAreWhatTheGeneratorDraws) {
    TempTree out;
    QProcess generator;
    generator.start(QStringLiteral(QUIVA_SKIN_GEN), {out.root()});
    ASSERT_TRUE(generator.waitForFinished(60000)) << "generator did not finish";
    ASSERT_EQ(generator.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(generator.exitCode(), 0) << generator.readAllStandardError().toStdString();

    for (const char* file : kGenerated) {
        const QByteArray drawn = readAll(out.path(QString::fromLatin1(file)));
        ASSERT_FALSE(drawn.isEmpty()) << file;
        EXPECT_EQ(drawn, readAll(sourcePath(QString::fromLatin1(file))))
            << file << " differs from a fresh drawing: run tools/regenerate-skin.sh";
    }
}

TEST(SkinPicturesTest, GeneratorRefusesAnUnwritableTarget) {
    TempTree out;
    // A file where a folder must go: nothing can be written below it.
    out.file(QStringLiteral("player"), "not a folder");
    QProcess generator;
    generator.start(QStringLiteral(QUIVA_SKIN_GEN), {out.root()});
    ASSERT_TRUE(generator.waitForFinished(60000));
    EXPECT_NE(generator.exitCode(), 0);
    EXPECT_TRUE(generator.readAllStandardError().contains("cannot write"));
}

TEST(SkinPicturesTest, HaveTheirFixedSizes) {
    const struct {
        const char* file;
        QSize size;
    } expected[] = {
        {"player/resources/skin-bar.png", {293, 66}},
        {"player/resources/skin-playlist.png", {293, 300}},
        {"player/resources/skin-creator.png", {300, 200}},
        {"player/resources/skin-bar@2x.png", {586, 132}},
        {"player/resources/skin-playlist@2x.png", {586, 600}},
        {"player/resources/skin-creator@2x.png", {600, 400}},
        {"player/resources/quiva-16.png", {16, 16}},
        {"player/resources/quiva-24.png", {24, 24}},
        {"player/resources/quiva-32.png", {32, 32}},
        {"player/resources/quiva-48.png", {48, 48}},
        {"player/resources/quiva-64.png", {64, 64}},
        {"player/resources/quiva-128.png", {128, 128}},
        {"player/resources/quiva-256.png", {256, 256}},
        {"platform/ui/resources/folder-open.png", {16, 16}},
        {"platform/ui/resources/folder-open@2x.png", {32, 32}},
        {"player/resources/about-icon.png", {32, 32}},
        {"player/resources/about-icon@2x.png", {64, 64}},
        {"volume/resources/dalvex-face.png", {32, 32}},
        {"volume/resources/dalvex-toolbox.png", {16, 15}},
    };
    for (const auto& [file, size] : expected) {
        const QImage image = checkedIn(file);
        ASSERT_FALSE(image.isNull()) << file;
        EXPECT_EQ(image.size(), size) << file;
    }
}

TEST(SkinPicturesTest, NoClickAreaShowsTheSeeThroughColourAtEitherScale) {
    for (const int scale : {1, 2}) {
        for (const Area& area : kClickAreas) {
            const QImage image = checkedIn(area.picture->file, scale);
            const QRect rect = pixelsUnder(*area.picture, area.area, scale);
            ASSERT_TRUE(image.rect().contains(rect)) << area.name << " at " << scale;
            EXPECT_EQ(countPixels(image, rect, kKey), 0) << area.name << " at " << scale;
        }
    }
}

TEST(SkinPicturesTest, ButtonsArePaintedUnderTheirClickAreasAtEitherScale) {
    // A button shows a dark edge and a light face: many more colours than flat panel grey.
    for (const int scale : {1, 2}) {
        for (const Area& area : kClickAreas) {
            if (QByteArray(area.name) == "Image2" || QByteArray(area.name) == "Label1")
                continue;
            const QImage image = checkedIn(area.picture->file, scale);
            const QImage under = image.copy(pixelsUnder(*area.picture, area.area, scale));
            EXPECT_GE(coloursOf(under).size(), 4u) << area.name << " at " << scale;
        }
    }
}

// The window's shape is computed in window pixels, so the double-sized pictures must key out
// exactly the window pixels that the pictures of scale 1 key out, each as a whole 2 x 2 block.
TEST(SkinPicturesTest, DoubleSizedPicturesAreSeeThroughInTheSameWindowPixels) {
    for (const Picture* picture : {&kBar, &kPlaylist, &kCreator}) {
        const QImage single = checkedIn(picture->file, 1);
        const QImage doubled = checkedIn(picture->file, 2);
        ASSERT_EQ(doubled.size(), single.size() * 2) << picture->file;
        int mismatches = 0;
        for (int y = 0; y < doubled.height(); ++y)
            for (int x = 0; x < doubled.width(); ++x)
                mismatches += ((doubled.pixel(x, y) & 0xffffff) == (kKey & 0xffffff)) !=
                              ((single.pixel(x / 2, y / 2) & 0xffffff) == (kKey & 0xffffff));
        EXPECT_EQ(mismatches, 0) << picture->file;
    }
}

TEST(SkinPicturesTest, FieldsLieUnderTheControlsThatShowThem) {
    for (const Area& field : kFields) {
        const QImage image = checkedIn(field.picture->file);
        // The control's own pixels, rounded inwards.
        const QRect outer = pixelsUnder(*field.picture, field.area);
        const QRect inner = outer.adjusted(1, 1, -1, -1);
        EXPECT_EQ(countPixels(image, inner, kField), inner.width() * inner.height()) << field.name;
    }
}

TEST(SkinPicturesTest, CornersOutsideTheRoundedShapeAreSeeThrough) {
    const struct {
        const Picture* picture;
        std::vector<QPoint> corners;
    } expected[] = {
        // The bar's top corners are square: the drag area covers the top-left one.
        {&kBar, {{0, 65}, {292, 65}}},
        {&kPlaylist, {{0, 0}, {292, 0}, {0, 299}, {292, 299}}},
        {&kCreator, {{0, 0}, {299, 0}, {0, 199}, {299, 199}}},
    };
    for (const auto& [picture, corners] : expected) {
        const QImage image = checkedIn(picture->file);
        EXPECT_FALSE(image.hasAlphaChannel()) << picture->file;
        for (const QPoint corner : corners) {
            EXPECT_EQ(image.pixel(corner) & 0xffffff, kKey & 0xffffff)
                << picture->file << " at " << corner.x() << "," << corner.y();
        }
    }
}

TEST(SkinPicturesTest, IconsKeepTheirColourDepths) {
    EXPECT_LE(coloursOf(checkedIn("player/resources/quiva-16.png")).size(), 256u);
    EXPECT_LE(coloursOf(checkedIn("player/resources/about-icon.png")).size(), 17u);
    // Scale2x only repeats colours, so the larger folders keep the classic sixteen.
    for (const char* folder :
         {"platform/ui/resources/folder-open@2x.png", "platform/ui/resources/folder-closed@2x.png",
          "player/resources/about-icon@2x.png"})
        EXPECT_LE(coloursOf(checkedIn(folder)).size(), 17u) << folder;

    const QImage face = checkedIn("volume/resources/dalvex-face.png");
    EXPECT_LE(coloursOf(face).size(), 17u);
    EXPECT_EQ(qAlpha(face.pixel(0, 0)), 0) << "the face's background is transparent";

    const QByteArray toolbox = readAll(sourcePath("volume/resources/dalvex-toolbox.png"));
    ASSERT_GT(toolbox.size(), 26);
    // PNG header: bit depth 8 and colour type 2 (RGB), i.e. 24 bits a pixel without alpha.
    EXPECT_EQ(toolbox.at(24), 8);
    EXPECT_EQ(toolbox.at(25), 2);
}

TEST(SkinPicturesTest, VolumeFaceShowsAYellowSpeakerAtTheLowerLeft) {
    const QImage face = checkedIn("volume/resources/dalvex-face.png");
    const QRgb yellow = qRgb(255, 255, 0);
    const int lowerLeft = countPixels(face, QRect(0, 16, 16, 16), yellow);
    const int elsewhere = countPixels(face, QRect(0, 0, 32, 16), yellow) +
                          countPixels(face, QRect(16, 16, 16, 16), yellow);
    EXPECT_GT(lowerLeft, 10);
    EXPECT_EQ(elsewhere, 0);
}
