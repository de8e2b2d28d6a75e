#include "tools/skin/PixelFont.h"

#include <array>
#include <string_view>

namespace pixelfont {
namespace {

struct Glyph {
    char letter;
    // kHeight rows of equal length; '#' is a set pixel.
    std::array<std::string_view, kHeight> rows;
};

// clang-format off
constexpr Glyph kGlyphs[] = {
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'C', {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."}},
    {'D', {"####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'F', {"#####", "#....", "#....", "####.", "#....", "#....", "#...."}},
    {'I', {"###", ".#.", ".#.", ".#.", ".#.", ".#.", "###"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
    {'N', {"#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'Q', {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'V', {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
    {'Y', {"#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."}},
    {'a', {"....", "....", ".###", "...#", ".###", "#..#", ".###"}},
    {'i', {"#", ".", "#", "#", "#", "#", "#"}},
    {'u', {"....", "....", "#..#", "#..#", "#..#", "#..#", ".###"}},
    {'v', {".....", ".....", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
    {' ', {"...", "...", "...", "...", "...", "...", "..."}},
};
// clang-format on

const Glyph* findGlyph(QChar letter) {
    for (const Glyph& glyph : kGlyphs) {
        if (QChar(glyph.letter) == letter)
            return &glyph;
    }
    return nullptr;
}

int glyphWidth(const Glyph& glyph, bool bold) {
    return static_cast<int>(glyph.rows[0].size()) + (bold ? 1 : 0);
}

void plot(QImage& image, int x, int y, QRgb rgb) {
    if (image.rect().contains(x, y))
        image.setPixel(x, y, rgb);
}

} // namespace

int pixelTextWidth(const QString& text, bool bold) {
    int width = 0;
    for (QChar letter : text) {
        if (const Glyph* glyph = findGlyph(letter))
            width += glyphWidth(*glyph, bold) + 1;
    }
    return width > 0 ? width - 1 : 0;
}

void drawPixelText(QImage& image, int x, int y, const QString& text, QColor colour, bool bold) {
    const QRgb rgb = colour.rgba();
    for (QChar letter : text) {
        const Glyph* glyph = findGlyph(letter);
        if (!glyph)
            continue;
        int row = 0;
        for (const std::string_view line : glyph->rows) {
            int column = 0;
            for (const char dot : line) {
                if (dot == '#') {
                    plot(image, x + column, y + row, rgb);
                    if (bold)
                        plot(image, x + column + 1, y + row, rgb);
                }
                ++column;
            }
            ++row;
        }
        x += glyphWidth(*glyph, bold) + 1;
    }
}

} // namespace pixelfont
