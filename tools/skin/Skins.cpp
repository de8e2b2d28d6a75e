#include "tools/skin/Skins.h"

#include "tools/skin/Canvas.h"
#include "tools/skin/PixelFont.h"

#include <QPainter>

#include <cstdlib>

namespace skin {
namespace {

constexpr int kTitleHeight = 17;
constexpr int kCornerRadius = 5;

// Positions on the player bar (pixels from its top-left corner).
const QRect kMinusArea(263, 0, 7, 17);   // Image3
const QRect kCrossArea(274, 0, 9, 17);   // Image4
const QRect kTitleField(8, 24, 217, 13); // pic
const QRect kShortField(233, 24, 50, 13);
const QRect kTransport[] = {
    {8, 45, 25, 13},   // Image13, previous
    {37, 45, 25, 13},  // Image14, play
    {67, 45, 25, 13},  // Image15, pause
    {97, 45, 25, 13},  // Image16, stop
    {128, 45, 25, 13}, // Image17, next
};
const QRect kVolumeGroove(160, 48, 105, 9); // SliderVol
const QRect kMenuButton(275, 48, 13, 13);   // Image5

// Positions on the playlist panel.
const QRect kListField(16, 29, 259, 208); // lstPls
const QRect kHintField(15, 272, 261, 16); // pic2

// Positions on the creator panel (relative to its left edge at 294 pixels).
const QRect kBrowseArea(10, 24, 281, 148); // Drive1 and Dir1
const QRect kAddFileButton(65, 180, 73, 17);
const QRect kAddDirButton(146, 180, 73, 17); // Image12
const QRect kDoneButton(223, 179, 73, 17);   // Image11

// A triangle seven pixels high and four wide, pointing right or left, at (x, y).
void drawTriangle(QImage& image, int x, int y, bool pointsRight, const QColor& colour) {
    for (int row = 0; row < 7; ++row) {
        const int length = 4 - std::abs(row - 3);
        const int start = pointsRight ? x : x + 4 - length;
        drawHLine(image, start, start + length - 1, y + row, colour);
    }
}

enum class Transport { Previous, Play, Pause, Stop, Next };

void drawTransportGlyph(QImage& image, const QRect& button, Transport kind, const QColor& ink,
                        int offset) {
    const int top = button.top() + 3 + offset;
    const int centre = button.left() + button.width() / 2 + offset;
    switch (kind) {
    case Transport::Previous:
        drawVLine(image, centre - 4, top, top + 6, ink);
        drawTriangle(image, centre - 3, top, false, ink);
        drawTriangle(image, centre + 1, top, false, ink);
        break;
    case Transport::Play:
        drawTriangle(image, centre - 1, top, true, ink);
        break;
    case Transport::Pause:
        fillRect(image, QRect(centre - 3, top, 2, 7), ink);
        fillRect(image, QRect(centre + 1, top, 2, 7), ink);
        break;
    case Transport::Stop:
        fillRect(image, QRect(centre - 3, top, 7, 7), ink);
        break;
    case Transport::Next:
        drawTriangle(image, centre - 4, top, true, ink);
        drawTriangle(image, centre, top, true, ink);
        drawVLine(image, centre + 4, top, top + 6, ink);
        break;
    }
}

void drawTransportButtons(QImage& image) {
    const Transport kinds[] = {Transport::Previous, Transport::Play, Transport::Pause,
                               Transport::Stop, Transport::Next};
    for (int i = 0; i < 5; ++i) {
        drawButton(image, kTransport[i]);
        drawGlyph(image, [&](QImage& glyph) {
            drawTransportGlyph(glyph, kTransport[i], kinds[i], kGlyphShadow, 1);
            drawTransportGlyph(glyph, kTransport[i], kinds[i], kGlyphInk, 0);
        });
    }
}

// The recessed track the volume slider runs in, with a scale of ticks below it.
void drawVolumeGroove(QImage& image) {
    const QRect track(kVolumeGroove.left() + 3, kVolumeGroove.center().y() - 1,
                      kVolumeGroove.width() - 6, 3);
    drawSunkenField(image, track, QColor(72, 90, 98));
    for (int step = 0; step <= 10; ++step) {
        const int x = track.left() + (track.width() - 1) * step / 10;
        const int length = (step % 5 == 0) ? 2 : 1;
        drawVLine(image, x, kVolumeGroove.bottom() + 2, kVolumeGroove.bottom() + 1 + length,
                  QColor(120, 128, 132));
    }
}

// The round menu button, drawn with anti-aliasing inside its own square only.
void drawMenuButton(QImage& image) {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF circle = QRectF(kMenuButton).adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient face(circle.topLeft(), circle.bottomRight());
    face.setColorAt(0, QColor(248, 250, 250));
    face.setColorAt(1, QColor(150, 166, 174));
    painter.setPen(QPen(QColor(62, 74, 82), 1));
    painter.setBrush(face);
    painter.drawEllipse(circle);
    painter.end();
    // A small downward arrow: the button opens a menu.
    const int x = kMenuButton.left() + 4;
    const int y = kMenuButton.top() + 5;
    drawGlyph(image, [&](QImage& glyph) {
        for (int row = 0; row < 3; ++row)
            drawHLine(glyph, x + row, x + 4 - row, y + row, kGlyphInk);
    });
}

} // namespace

QImage drawPlayerBar(int scale) {
    Canvas canvas(QSize(293, 66), scale);
    canvas.addToShape(QRect(0, 0, 293, 66), kCornerRadius);
    // Square at the top: the drag area reaches into the top-left corner, and every pixel
    // under a click area must stay opaque.
    canvas.addToShape(QRect(0, 0, 293, kTitleHeight), 0);
    QImage& image = canvas.image();
    fillRect(image, QRect(0, 0, canvas.width(), canvas.height()), kPanelGrey);
    drawTitleStrip(image, canvas.width(), kTitleHeight, QStringLiteral("Quiva"),
                   kMinusArea.left() - 6);
    drawMinusMark(image, kMinusArea);
    drawCrossMark(image, kCrossArea);

    // The display fields reach two pixels beyond the scroller's frame on every side, so the
    // scrolling text never touches their bevel.
    drawSunkenField(image, kTitleField.adjusted(-2, -2, 2, 2), kFieldBlue);
    drawSunkenField(image, kShortField.adjusted(-2, -2, 2, 2), kFieldBlue);
    drawTransportButtons(image);
    drawVolumeGroove(image);
    drawMenuButton(image);
    canvas.frameShape();
    return canvas.finish();
}

QImage drawPlaylistPanel(int scale) {
    Canvas canvas(QSize(293, 300), scale);
    const QRect tab(6, 0, 80, 22);
    canvas.addToShape(tab, 4);
    canvas.addToShape(QRect(0, 8, 293, 292), kCornerRadius);
    QImage& image = canvas.image();
    fillRect(image, QRect(0, 0, canvas.width(), canvas.height()), kPanelGrey);
    fillGradient(image, tab.adjusted(0, 0, 0, -2), QColor(112, 134, 145), QColor(84, 102, 112));
    const QString caption = QStringLiteral("PLAYLIST");
    const int captionX = tab.left() + (tab.width() - pixelfont::pixelTextWidth(caption)) / 2;
    drawGlyph(image, [&](QImage& glyph) {
        pixelfont::drawPixelText(glyph, captionX + 1, 7, caption, QColor(30, 38, 44));
        pixelfont::drawPixelText(glyph, captionX, 6, caption, QColor(240, 244, 246));
    });
    drawHLine(image, tab.left(), tab.right(), tab.bottom() - 1, QColor(36, 44, 50));

    drawSunkenField(image, kListField.adjusted(-1, -1, 1, 1), kFieldBlue);
    const QString labels[] = {QStringLiteral("ADD"), QStringLiteral("REMOVE"),
                              QStringLiteral("CLEAR")};
    const QRect buttons[] = {{41, 248, 65, 17}, {112, 248, 60, 17}, {180, 248, 65, 17}};
    for (int i = 0; i < 3; ++i)
        drawLabelButton(image, buttons[i], labels[i]);
    drawSunkenField(image, kHintField, kFieldBlue);
    canvas.frameShape();
    return canvas.finish();
}

QImage drawCreatorPanel(int scale) {
    Canvas canvas(QSize(300, 200), scale);
    canvas.addToShape(QRect(0, 0, 300, 200), kCornerRadius);
    QImage& image = canvas.image();
    fillRect(image, QRect(0, 0, canvas.width(), canvas.height()), kPanelGrey);
    const QRect minusArea(269, 0, 7, 17);
    const QRect crossArea(280, 0, 9, 17);
    drawTitleStrip(image, canvas.width(), kTitleHeight, QStringLiteral("PLAYLIST CREATOR"),
                   minusArea.left() - 6);
    drawMinusMark(image, minusArea);
    drawCrossMark(image, crossArea);

    drawSunkenField(image, kBrowseArea, kPanelGrey);
    // Label1 hides the middle of the row below the browse area at run time; a bevel line there
    // would show with a gap, so that side stays open.
    drawHLine(image, kBrowseArea.left() - 1, kBrowseArea.right() + 1, kBrowseArea.bottom() + 1,
              kPanelGrey);
    drawLabelButton(image, kAddFileButton, QStringLiteral("ADD FILE"));
    drawLabelButton(image, kAddDirButton, QStringLiteral("ADD DIR"));
    drawLabelButton(image, kDoneButton, QStringLiteral("DONE"));
    canvas.frameShape();
    return canvas.finish();
}

} // namespace skin
