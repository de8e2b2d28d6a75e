#include "tools/skin/Canvas.h"

#include "tools/skin/PixelFont.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>

namespace skin {
namespace {

const QColor kEdge(44, 52, 58);
const QColor kBevelLight(236, 238, 239);
const QColor kBevelDark(150, 156, 160);
const QColor kTitleTop(112, 134, 145);
const QColor kTitleBottom(62, 76, 85);
const QColor kTitleText(240, 244, 246);
const QColor kTitleTextShadow(30, 38, 44);

// Fills device pixels [x1, x2) x [y1, y2), clipped to the image.
void fillDevice(QImage& image, int x1, int y1, int x2, int y2, QRgb rgb) {
    for (int y = std::max(0, y1); y < std::min(image.height(), y2); ++y)
        for (int x = std::max(0, x1); x < std::min(image.width(), x2); ++x)
            image.setPixel(x, y, rgb);
}

void setPixel(QImage& image, int x, int y, const QColor& colour) {
    const int s = scaleOf(image);
    fillDevice(image, x * s, y * s, (x + 1) * s, (y + 1) * s, colour.rgb());
}

// Is the pixel centre (x, y) inside a rectangle whose corners are rounded with radius r?
bool insideRounded(const QRect& rect, int radius, int x, int y) {
    if (!rect.contains(x, y))
        return false;
    const double px = x + 0.5;
    const double py = y + 0.5;
    const double left = rect.left() + radius;
    const double right = rect.right() + 1 - radius;
    const double top = rect.top() + radius;
    const double bottom = rect.bottom() + 1 - radius;
    const double cx = std::clamp(px, left, right);
    const double cy = std::clamp(py, top, bottom);
    const double dx = px - cx;
    const double dy = py - cy;
    return dx * dx + dy * dy <= radius * radius;
}

} // namespace

QColor mix(const QColor& a, const QColor& b, double amountOfB) {
    const auto channel = [amountOfB](int from, int to) {
        return static_cast<int>(std::lround(from + (to - from) * amountOfB));
    };
    return QColor(channel(a.red(), b.red()), channel(a.green(), b.green()),
                  channel(a.blue(), b.blue()));
}

int scaleOf(const QImage& image) {
    return std::max(1, qRound(image.devicePixelRatio()));
}

QColor pixelAt(const QImage& image, int x, int y) {
    const int s = scaleOf(image);
    return QColor(image.pixel(x * s, y * s));
}

Canvas::Canvas(QSize size, int scale)
    : m_image(size * scale, QImage::Format_RGB32), m_width(size.width()), m_height(size.height()),
      m_shape(static_cast<size_t>(size.width() * size.height()), false) {
    m_image.setDevicePixelRatio(scale);
    m_image.fill(kKeyColour);
}

void Canvas::addToShape(const QRect& rect, int radius) {
    for (int y = 0; y < height(); ++y) {
        for (int x = 0; x < width(); ++x) {
            if (insideRounded(rect, radius, x, y))
                m_shape[static_cast<size_t>(y * width() + x)] = true;
        }
    }
}

bool Canvas::inShape(int x, int y) const {
    if (x < 0 || y < 0 || x >= width() || y >= height())
        return false;
    return m_shape[static_cast<size_t>(y * width() + x)];
}

// Ring 0 is the outermost layer of the shape, ring 1 the layer just inside it.
bool Canvas::onShapeBorder(int x, int y, int ring) const {
    if (!inShape(x, y))
        return false;
    const int reach = ring + 1;
    for (int dy = -reach; dy <= reach; ++dy) {
        for (int dx = -reach; dx <= reach; ++dx) {
            if (std::abs(dx) + std::abs(dy) <= reach && !inShape(x + dx, y + dy))
                return true;
        }
    }
    return false;
}

void Canvas::frameShape() {
    for (int y = 0; y < height(); ++y) {
        for (int x = 0; x < width(); ++x) {
            if (onShapeBorder(x, y, 0)) {
                setPixel(m_image, x, y, kEdge);
            } else if (onShapeBorder(x, y, 1)) {
                const bool towardsTopLeft =
                    !inShape(x - 2, y) || !inShape(x, y - 2) || !inShape(x - 1, y - 1);
                const QColor bevel = towardsTopLeft ? kBevelLight : kBevelDark;
                setPixel(m_image, x, y, mix(pixelAt(m_image, x, y), bevel, 0.7));
            }
        }
    }
}

QImage Canvas::finish() const {
    QImage result = m_image;
    const QRgb key = kKeyColour.rgb();
    // One step off the key in red: invisible to the eye, but the colour key leaves it opaque.
    const QRgb nearKey = qRgb(254, 128, 0);
    // The shape is kept in whole window pixels at every scale, so the key covers whole window
    // pixels too: the window's shape, which is computed in window pixels, then matches it.
    const int s = scaleOf(result);
    for (int y = 0; y < result.height(); ++y) {
        for (int x = 0; x < result.width(); ++x) {
            if (!inShape(x / s, y / s))
                result.setPixel(x, y, key);
            else if (result.pixel(x, y) == key)
                result.setPixel(x, y, nearKey);
        }
    }
    // The skin pictures use far fewer than 256 colours, and stored on a palette they decode
    // faster at start-up: one byte a pixel to unpack instead of three.
    QImage indexed = toExactIndexed(result);
    if (indexed.isNull())
        return result;
    indexed.setDevicePixelRatio(result.devicePixelRatio());
    return indexed;
}

// Steps once per device row, so a larger scale gets a finer gradient.
void fillGradient(QImage& image, const QRect& rect, const QColor& top, const QColor& bottom) {
    const int s = scaleOf(image);
    const int rows = std::max(1, rect.height() * s - 1);
    for (int row = 0; row < rect.height() * s; ++row) {
        const int y = rect.top() * s + row;
        fillDevice(image, rect.left() * s, y, (rect.right() + 1) * s, y + 1,
                   mix(top, bottom, double(row) / rows).rgb());
    }
}

void fillRect(QImage& image, const QRect& rect, const QColor& colour) {
    const int s = scaleOf(image);
    fillDevice(image, rect.left() * s, rect.top() * s, (rect.right() + 1) * s,
               (rect.bottom() + 1) * s, colour.rgb());
}

void drawHLine(QImage& image, int x1, int x2, int y, const QColor& colour) {
    fillRect(image, QRect(QPoint(x1, y), QPoint(x2, y)), colour);
}

void drawVLine(QImage& image, int x, int y1, int y2, const QColor& colour) {
    fillRect(image, QRect(QPoint(x, y1), QPoint(x, y2)), colour);
}

QImage scale2x(const QImage& image) {
    const QImage source = image.convertToFormat(QImage::Format_ARGB32);
    QImage result(source.size() * 2, QImage::Format_ARGB32);
    const auto at = [&](int x, int y) {
        return source.rect().contains(x, y) ? source.pixel(x, y) : qRgba(0, 0, 0, 0);
    };
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            const QRgb p = at(x, y), above = at(x, y - 1), below = at(x, y + 1);
            const QRgb left = at(x - 1, y), right = at(x + 1, y);
            const bool apart = above != below && left != right;
            result.setPixel(2 * x, 2 * y, apart && left == above ? above : p);
            result.setPixel(2 * x + 1, 2 * y, apart && above == right ? right : p);
            result.setPixel(2 * x, 2 * y + 1, apart && left == below ? left : p);
            result.setPixel(2 * x + 1, 2 * y + 1, apart && below == right ? below : p);
        }
    }
    return result;
}

void drawGlyph(QImage& image, const std::function<void(QImage&)>& draw) {
    if (scaleOf(image) == 1) {
        draw(image);
        return;
    }
    QImage glyph(image.size() / scaleOf(image), QImage::Format_ARGB32);
    glyph.fill(Qt::transparent);
    draw(glyph);
    QImage drawn = scale2x(glyph);
    while (drawn.width() < image.width())
        drawn = scale2x(drawn);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(drawn.pixel(x, y)) != 0)
                image.setPixel(x, y, drawn.pixel(x, y));
}

void drawSunkenField(QImage& image, const QRect& rect, const QColor& fill) {
    const QRect frame = rect.adjusted(-1, -1, 1, 1);
    const QColor shade = mix(fill, QColor(20, 28, 32), 0.55);
    const QColor light(246, 248, 248);
    drawHLine(image, frame.left(), frame.right(), frame.top(), shade);
    drawVLine(image, frame.left(), frame.top(), frame.bottom(), shade);
    drawHLine(image, frame.left() + 1, frame.right(), frame.bottom(), light);
    drawVLine(image, frame.right(), frame.top() + 1, frame.bottom(), light);
    fillRect(image, rect, fill);
}

void drawButton(QImage& image, const QRect& rect) {
    const QColor edge(82, 94, 102);
    const QRect face = rect.adjusted(1, 1, -1, -1);
    fillGradient(image, face, QColor(250, 251, 251), QColor(188, 196, 200));
    drawHLine(image, face.left(), face.right(), face.top(), QColor(255, 255, 255));
    drawHLine(image, face.left(), face.right(), face.bottom(), QColor(164, 174, 180));
    drawHLine(image, rect.left() + 1, rect.right() - 1, rect.top(), edge);
    drawHLine(image, rect.left() + 1, rect.right() - 1, rect.bottom(), edge);
    drawVLine(image, rect.left(), rect.top() + 1, rect.bottom() - 1, edge);
    drawVLine(image, rect.right(), rect.top() + 1, rect.bottom() - 1, edge);
    for (const QPoint corner :
         {rect.topLeft(), rect.topRight(), rect.bottomLeft(), rect.bottomRight()}) {
        const QColor behind = pixelAt(image, corner.x(), corner.y());
        setPixel(image, corner.x(), corner.y(), mix(behind, edge, 0.45));
    }
}

void drawLabelButton(QImage& image, const QRect& rect, const QString& label) {
    drawButton(image, rect);
    const int x = rect.left() + (rect.width() - pixelfont::pixelTextWidth(label) + 1) / 2;
    const int y = rect.top() + (rect.height() - pixelfont::kHeight) / 2;
    drawGlyph(image, [&](QImage& glyph) {
        pixelfont::drawPixelText(glyph, x, y + 1, label, kGlyphShadow);
        pixelfont::drawPixelText(glyph, x, y, label, kGlyphInk);
    });
}

void drawTitleStrip(QImage& image, int width, int height, const QString& caption, int gripEnd) {
    fillGradient(image, QRect(0, 0, width, height - 1), kTitleTop, kTitleBottom);
    drawHLine(image, 0, width - 1, height - 1, QColor(36, 44, 50));
    const int textY = (height - pixelfont::kHeight) / 2;
    drawGlyph(image, [&](QImage& glyph) {
        pixelfont::drawPixelText(glyph, 7, textY + 1, caption, kTitleTextShadow, true);
        pixelfont::drawPixelText(glyph, 6, textY, caption, kTitleText, true);
    });

    // Engraved grip lines between the caption and the window buttons.
    const int gripStart = 6 + pixelfont::pixelTextWidth(caption, true) + 8;
    for (int y = textY + 1; y < textY + pixelfont::kHeight; y += 2) {
        drawHLine(image, gripStart, gripEnd, y, mix(kTitleTop, kTitleTextShadow, 0.6));
        drawHLine(image, gripStart, gripEnd, y + 1, mix(kTitleTop, kTitleText, 0.35));
    }
}

namespace {
void drawCrossStrokes(QImage& image, const QRect& area) {
    // Seven rows, each diagonal two pixels wide: as heavy as the two-pixel minus beside it.
    constexpr int kRows = 7;
    const int x = area.left() + (area.width() - (kRows + 2)) / 2;
    const int y = area.top() + (area.height() - kRows) / 2;
    for (const auto& [dx, colour] : {std::pair{1, kTitleTextShadow}, std::pair{0, kTitleText}}) {
        for (int row = 0; row < kRows; ++row) {
            drawHLine(image, x + row + dx, x + row + 1 + dx, y + row + dx, colour);
            drawHLine(image, x + kRows - 1 - row + dx, x + kRows - row + dx, y + row + dx, colour);
        }
    }
}
} // namespace

void drawMinusMark(QImage& image, const QRect& area) {
    const int x = area.left() + (area.width() - 5) / 2;
    const int y = area.top() + area.height() / 2 + 1;
    fillRect(image, QRect(x + 1, y + 1, 5, 2), kTitleTextShadow);
    fillRect(image, QRect(x, y, 5, 2), kTitleText);
}

void drawCrossMark(QImage& image, const QRect& area) {
    drawGlyph(image, [&](QImage& glyph) { drawCrossStrokes(glyph, area); });
}

QImage toExactIndexed(const QImage& image) {
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    }
    if (colours.size() > 256)
        return {};
    const QVector<QRgb> table(colours.begin(), colours.end());
    QImage indexed(image.size(), QImage::Format_Indexed8);
    indexed.setColorTable(table);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            indexed.setPixel(x, y, static_cast<uint>(table.indexOf(image.pixel(x, y))));
    }
    return indexed;
}

} // namespace skin
