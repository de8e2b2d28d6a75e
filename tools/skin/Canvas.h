#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>

#include <functional>
#include <vector>

// Drawing primitives of the skin pictures. All of them set whole pixels, so the pictures are
// crisp at 1:1 and byte-identical on every run.
namespace skin {

// The window's see-through colour: it may appear only where the window is meant to be open.
inline const QColor kKeyColour(255, 128, 0);
inline const QColor kPanelGrey(206, 206, 206);
inline const QColor kFieldBlue(126, 152, 161);

// Every drawing function below takes window pixels (logical coordinates). A picture drawn for
// a larger scale carries it as its device pixel ratio (1 or 2): a window pixel then covers
// scale x scale pixels of the picture, gradients step once per picture row, and glyphs (text,
// marks) are enlarged with Scale2x, which rounds their diagonals instead of doubling them.
int scaleOf(const QImage& image);
// The colour at a window pixel (its top-left picture pixel).
QColor pixelAt(const QImage& image, int x, int y);

// A picture under construction together with the set of pixels that belong to the window's
// shape. finish() paints everything outside the shape in the key colour and guarantees that
// nothing inside it is the key colour. The shape is held in window pixels at every scale.
class Canvas {
public:
    explicit Canvas(QSize size, int scale = 1);

    QImage& image() { return m_image; }
    // In window pixels.
    int width() const { return m_width; }
    int height() const { return m_height; }

    // Adds a rectangle with rounded corners of the given radius (0: square) to the shape.
    void addToShape(const QRect& rect, int radius);
    bool inShape(int x, int y) const;

    // Draws the shape's silhouette: a dark edge on its border pixels and a one-pixel bevel
    // inside it (light towards the top left, dark towards the bottom right).
    void frameShape();

    // The finished opaque picture: indexed on exactly its colours when they fit in 256,
    // else RGB.
    QImage finish() const;

private:
    bool onShapeBorder(int x, int y, int ring) const;

    QImage m_image;
    int m_width;
    int m_height;
    std::vector<bool> m_shape;
};

QColor mix(const QColor& a, const QColor& b, double amountOfB);

// An indexed copy with a table of exactly the colours used, in ascending order; fails (null
// image) when the picture has more than 256 of them.
QImage toExactIndexed(const QImage& image);

// Fills rect with a top-to-bottom gradient.
void fillGradient(QImage& image, const QRect& rect, const QColor& top, const QColor& bottom);
void fillRect(QImage& image, const QRect& rect, const QColor& colour);
void drawHLine(QImage& image, int x1, int x2, int y, const QColor& colour);
void drawVLine(QImage& image, int x, int y1, int y2, const QColor& colour);

// Scale2x (EPX): each pixel becomes four, and where two neighbours that meet at a corner agree
// the corner takes their colour, so diagonals stay smooth. Outside the image is transparent.
QImage scale2x(const QImage& image);

// Runs `draw` on a transparent picture at scale 1 and puts what it drew, enlarged with Scale2x
// to the image's scale, over the image; at scale 1 it draws on the image itself.
void drawGlyph(QImage& image, const std::function<void(QImage&)>& draw);

// A recessed field: rect is filled, and a bevel is drawn on the ring of pixels just outside it.
void drawSunkenField(QImage& image, const QRect& rect, const QColor& fill);

// A raised push button filling rect exactly, with clipped corners blended into the background.
void drawButton(QImage& image, const QRect& rect);
// A button with a centred capital label in the pixel font.
void drawLabelButton(QImage& image, const QRect& rect, const QString& label);

// The colour of glyphs on buttons, and of their one-pixel light shadow.
inline const QColor kGlyphInk(38, 48, 54);
inline const QColor kGlyphShadow(250, 252, 252);

// Title strip of the bar and of the creator panel: gradient, caption, grip lines.
void drawTitleStrip(QImage& image, int width, int height, const QString& caption, int gripEnd);
// The minimise (minus) and close (cross) marks, centred in their areas.
void drawMinusMark(QImage& image, const QRect& area);
void drawCrossMark(QImage& image, const QRect& area);

} // namespace skin
