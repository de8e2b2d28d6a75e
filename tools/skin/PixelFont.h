#pragma once

#include <QColor>
#include <QImage>
#include <QString>

// A 7-pixel-high bitmap font for the skin's labels: crisp at 1:1 and the same pixels on
// every machine, which a scalable font rendered through FreeType cannot promise.
// Covers the capitals and the few small letters the skin uses; other characters draw nothing
// and are an error of the caller (pixelTextWidth() counts them as zero wide).
namespace pixelfont {

constexpr int kHeight = 7;

// Width in pixels of text drawn with drawPixelText(), one pixel between letters.
// bold widens every letter by one pixel.
int pixelTextWidth(const QString& text, bool bold = false);

// Draws text with its top-left corner at (x, y); pixels outside the image are skipped.
void drawPixelText(QImage& image, int x, int y, const QString& text, QColor colour,
                   bool bold = false);

} // namespace pixelfont
