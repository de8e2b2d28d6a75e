#include "tools/skin/Icons.h"

#include "tools/skin/Canvas.h"

#include <QPainter>

#include <algorithm>
#include <initializer_list>
#include <string_view>

namespace skin {
namespace {

// The sixteen colours of the classic palette; the 16-colour pictures use nothing else.
namespace classic {
const QColor kBlack(0, 0, 0);
const QColor kTeal(0, 128, 128);
const QColor kSilver(192, 192, 192);
const QColor kGrey(128, 128, 128);
const QColor kYellow(255, 255, 0);
const QColor kOlive(128, 128, 0);
const QColor kAqua(0, 255, 255);
const QColor kWhite(255, 255, 255);
const QColor kNavy(0, 0, 128);
} // namespace classic

QVector<QRgb> classicPalette() {
    return {qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
            qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
            qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
            qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
}

// Converts a picture drawn only in classic colours (and fully transparent pixels) into an
// indexed image whose table is the classic palette plus one transparent entry.
QImage toClassicIndexed(const QImage& drawn) {
    QVector<QRgb> table = classicPalette();
    const int transparentIndex = static_cast<int>(table.size());
    table.append(qRgba(0, 0, 0, 0));
    QImage indexed(drawn.size(), QImage::Format_Indexed8);
    indexed.setColorTable(table);
    for (int y = 0; y < drawn.height(); ++y) {
        for (int x = 0; x < drawn.width(); ++x) {
            const QRgb pixel = drawn.pixel(x, y);
            const int index = qAlpha(pixel) == 0
                                  ? transparentIndex
                                  : static_cast<int>(table.indexOf(pixel | 0xff000000));
            // Every drawing here uses palette colours only; a stray one would show as black.
            indexed.setPixel(x, y, index >= 0 ? static_cast<uint>(index) : 0u);
        }
    }
    return indexed;
}

bool insideCircle(double cx, double cy, double radius, int x, int y) {
    const double dx = x + 0.5 - cx;
    const double dy = y + 0.5 - cy;
    return dx * dx + dy * dy <= radius * radius;
}

// The play triangle of the mark, in a square of side `size`, as a polygon.
QPolygonF playTriangle(double size) {
    const double unit = size / 32.0;
    return QPolygonF({QPointF(12 * unit, 8.5 * unit), QPointF(24.5 * unit, 16 * unit),
                      QPointF(12 * unit, 23.5 * unit)});
}

// The Quiva mark in flat classic colours: a teal disc with a yellow play triangle.
QImage drawFlatMark() {
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    const QPolygonF triangle = playTriangle(32);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            if (!insideCircle(16, 16, 15.5, x, y))
                continue;
            QColor colour = classic::kBlack;
            if (insideCircle(16, 16, 14.5, x, y))
                colour = insideCircle(14, 14, 12.5, x, y) ? classic::kTeal : classic::kNavy;
            if (insideCircle(16, 16, 14.5, x, y) && !insideCircle(17, 17, 14.5, x, y))
                colour = classic::kAqua;
            if (triangle.containsPoint(QPointF(x + 0.5, y + 0.5), Qt::OddEvenFill))
                colour = classic::kYellow;
            image.setPixel(x, y, colour.rgba());
        }
    }
    // A dark edge on the triangle's lower and right sides gives it some depth.
    for (int y = 1; y < 31; ++y) {
        for (int x = 1; x < 31; ++x) {
            const bool inside = image.pixel(x, y) == classic::kYellow.rgba();
            if (!inside && (image.pixel(x - 1, y) == classic::kYellow.rgba() ||
                            image.pixel(x, y - 1) == classic::kYellow.rgba()))
                image.setPixel(x, y, classic::kOlive.rgba());
        }
    }
    return image;
}

// The Quiva mark with gradients and anti-aliasing, at any size.
QImage drawSmoothMark(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const double unit = size / 32.0;
    const QRectF disc(0.5 * unit, 0.5 * unit, 31 * unit, 31 * unit);
    QLinearGradient discFill(disc.topLeft(), disc.bottomRight());
    discFill.setColorAt(0, QColor(176, 204, 214));
    discFill.setColorAt(0.5, kFieldBlue);
    discFill.setColorAt(1, QColor(48, 64, 74));
    painter.setPen(QPen(QColor(30, 40, 46), std::max(1.0, unit)));
    painter.setBrush(discFill);
    painter.drawEllipse(disc);

    QLinearGradient amber(QPointF(0, 9 * unit), QPointF(0, 23 * unit));
    amber.setColorAt(0, QColor(255, 226, 110));
    amber.setColorAt(1, QColor(232, 150, 20));
    // At small sizes an outline would swallow the triangle's colour.
    if (size >= 32)
        painter.setPen(QPen(QColor(90, 56, 10), unit * 0.8));
    else
        painter.setPen(Qt::NoPen);
    painter.setBrush(amber);
    painter.drawPolygon(playTriangle(size));
    return image;
}

// Classic icons have one-bit transparency: a pixel is either fully there or not at all.
QImage withBinaryAlpha(const QImage& image) {
    QImage result = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < result.height(); ++y) {
        for (int x = 0; x < result.width(); ++x) {
            const QColor pixel = QColor::fromRgba(result.pixel(x, y));
            if (pixel.alpha() < 128) {
                result.setPixel(x, y, qRgba(0, 0, 0, 0));
            } else {
                // A kept edge pixel shows its colour blended over the rim colour, so the edge
                // stays smooth without partial alpha.
                const QColor solid = mix(QColor(30, 40, 46), QColor(pixel.rgb()), pixel.alphaF());
                result.setPixel(x, y, solid.rgb());
            }
        }
    }
    return result;
}

void drawBevelBox(QImage& image, const QRect& rect, const QColor& face) {
    fillRect(image, rect, classic::kBlack);
    const QRect inner = rect.adjusted(1, 1, -1, -1);
    fillRect(image, inner, face);
    drawHLine(image, inner.left(), inner.right(), inner.top(), classic::kWhite);
    drawVLine(image, inner.left(), inner.top(), inner.bottom(), classic::kWhite);
    drawHLine(image, inner.left() + 1, inner.right(), inner.bottom(), classic::kGrey);
    drawVLine(image, inner.right(), inner.top() + 1, inner.bottom(), classic::kGrey);
}

// Draws a picture given as rows of letters: K black, Y yellow, W white, O olive; '.' is left
// as it is.
void drawPixelMap(QImage& image, int x, int y, std::initializer_list<std::string_view> rows) {
    int row = 0;
    for (std::string_view line : rows) {
        int column = 0;
        for (const char letter : line) {
            const QColor colour = letter == 'K'   ? classic::kBlack
                                  : letter == 'Y' ? classic::kYellow
                                  : letter == 'W' ? classic::kWhite
                                  : letter == 'O' ? classic::kOlive
                                                  : QColor();
            if (colour.isValid() && image.rect().contains(x + column, y + row))
                image.setPixel(x + column, y + row, colour.rgba());
            ++column;
        }
        ++row;
    }
}

// clang-format off
void drawLargeSpeaker(QImage& image, int x, int y) {
    drawPixelMap(image, x, y, {
        "......KK.",
        ".....KYK.",
        "....KYYK.",
        "KKKKYYYK.",
        "KWYKYYYK.",
        "KWYKYYYK.",
        "KYOKYYOK.",
        "KKKKYYOK.",
        "....KYOK.",
        ".....KOK.",
        "......KK.",
    });
}

void drawSmallSpeaker(QImage& image, int x, int y) {
    drawPixelMap(image, x, y, {
        "...KK",
        "..KYK",
        "KKYYK",
        "KWYYK",
        "KKYOK",
        "..KOK",
        "...KK",
    });
}
// clang-format on

// clang-format off
void drawClosedFolder(QImage& image) {
    drawPixelMap(image, 0, 2, {
        "..OOOOO.........",
        ".OYWYWYO........",
        "OOOOOOOOOOOOOO..",
        "OWYYYYYYYYYYYOK.",
        "OYYYYYYYYYYYYOK.",
        "OWYYYYYYYYYYYOK.",
        "OYYYYYYYYYYYYOK.",
        "OWYYYYYYYYYYYOK.",
        "OYYYYYYYYYYYYOK.",
        "OWYYYYYYYYYYYOK.",
        "OOOOOOOOOOOOOOK.",
        ".KKKKKKKKKKKKKK.",
    });
}

void drawOpenFolder(QImage& image) {
    drawPixelMap(image, 0, 2, {
        "..OOOOO.........",
        ".OYWYWYO........",
        "OYWYYYYOOOOOO...",
        "OWYYYYYYYYYYO...",
        "OYYYOOOOOOOOOOOK",
        "OWYOYYYYYYYYYYOK",
        "OYOYYYYYYYYYYOK.",
        "OWOYYYYYYYYYYOK.",
        "OOYYYYYYYYYYOK..",
        "OOYYYYYYYYYYOK..",
        "OOOOOOOOOOOOK...",
        ".KKKKKKKKKKKK...",
    });
}
// clang-format on

// A fader slot with a knob of the given width centred on it at knobY.
void drawFader(QImage& image, int x, int top, int bottom, int knobY, int knobWidth) {
    drawVLine(image, x, top, bottom, classic::kBlack);
    drawVLine(image, x + 1, top, bottom, classic::kWhite);
    const QRect knob(x + 1 - knobWidth / 2, knobY - 1, knobWidth, knobWidth > 4 ? 4 : 2);
    // A bevelled knob needs room for its edges; a small one is a plain dark block.
    if (knobWidth > 4)
        drawBevelBox(image, knob, classic::kSilver);
    else
        fillRect(image, knob, classic::kBlack);
}

} // namespace

QImage drawWindowIcon16() {
    // 256 pixels can hold no more than 256 colours, so the exact table always fits.
    return toExactIndexed(withBinaryAlpha(drawSmoothMark(16)));
}

QImage drawWindowIcon(int size) {
    return drawSmoothMark(size);
}

QImage drawAboutIcon(int scale) {
    const QImage image = drawFlatMark();
    return toClassicIndexed(scale == 2 ? scale2x(image) : image);
}

QImage drawDalvexFace() {
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    drawBevelBox(image, QRect(5, 1, 26, 28), classic::kSilver);
    drawFader(image, 12, 5, 24, 8, 6);
    drawFader(image, 19, 5, 24, 14, 6);
    drawFader(image, 26, 5, 24, 11, 6);
    drawLargeSpeaker(image, 0, 20);
    return toClassicIndexed(image);
}

QImage drawDalvexToolbox() {
    QImage image(16, 15, QImage::Format_RGB888);
    image.fill(classic::kSilver);
    drawBevelBox(image, QRect(3, 0, 13, 14), classic::kSilver);
    drawFader(image, 7, 2, 11, 4, 4);
    drawFader(image, 11, 2, 11, 8, 4);
    drawSmallSpeaker(image, 0, 8);
    return image;
}

QImage drawClosedFolderIcon(int scale) {
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    drawClosedFolder(image);
    return toClassicIndexed(scale == 2 ? scale2x(image) : image);
}

QImage drawOpenFolderIcon(int scale) {
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    drawOpenFolder(image);
    return toClassicIndexed(scale == 2 ? scale2x(image) : image);
}

} // namespace skin
