#pragma once

#include "platform/ui/Twips.h"

#include <QPoint>
#include <QRect>

#include <algorithm>
#include <cstdlib>

// Where the main window's pictures, click areas and controls lie, in twips of its client area
// (or of the picture box named beside them). The window places its controls from here, the skin
// generator paints the buttons and fields under them, and the tests click and look where they
// are: one table, so that a button moved here moves everywhere.
namespace layout {

struct Area {
    int left, top, width, height; // twips
};

struct Line {
    int x1, y1, x2, y2; // twips, from the first point to the second
};

// Skin pictures.
inline constexpr Area Image1{0, 0, 4395, 990};      // player bar
inline constexpr Area Image6{0, 1010, 4395, 4500};  // playlist panel
inline constexpr Area Image10{4410, 0, 4500, 3000}; // playlist creator panel

// Click areas over the player bar.
inline constexpr Area Image2{0, 0, 3855, 255};      // title strip: dragging
inline constexpr Area Image3{3940, 0, 100, 255};    // minus: minimize
inline constexpr Area Image4{4110, 0, 135, 255};    // cross: close
inline constexpr Area Image5{4120, 720, 200, 200};  // round button: the menu
inline constexpr Area Image13{120, 675, 375, 195};  // previous
inline constexpr Area Image14{560, 680, 375, 195};  // play
inline constexpr Area Image15{1000, 680, 375, 195}; // pause
inline constexpr Area Image16{1460, 680, 375, 195}; // stop
inline constexpr Area Image17{1920, 680, 375, 195}; // next
// Click areas over the playlist panel.
inline constexpr Area Image7{620, 4730, 975, 255};  // ADD
inline constexpr Area Image8{1680, 4730, 900, 255}; // REMOVE
inline constexpr Area Image9{2700, 4730, 975, 255}; // CLEAR
// Click areas over the creator panel.
inline constexpr Area Image12{6600, 2700, 1095, 255}; // ADD DIR
inline constexpr Area Image11{7750, 2680, 1095, 255}; // DONE

// Controls the user sees.
inline constexpr Area lstPls{240, 1440, 3885, 3120};
inline constexpr Area Drive1{4560, 360, 4215, 315};
inline constexpr Area Dir1{4560, 690, 4215, 1890};
inline constexpr Area Label1{5260, 2580, 1335, 375}; // covers the creator's ADD FILE picture
inline constexpr Area pic{120, 360, 3255, 200};
inline constexpr Area lbl{3120, 0, 885, 195}; // in `pic`; its width follows its caption
inline constexpr Area pic2{220, 5090, 3920, 240};
inline constexpr Area lbl2{3840, 30, 7290, 195}; // in `pic2`; its width follows its caption
inline constexpr Area SliderVol{2400, 720, 1575, 135};
inline constexpr Line Line2{4395, 1000, 0, 1000}; // between the player bar and the playlist
inline constexpr Line Line1{0, 960, 0, 1320};     // the left edge where bar and panel meet

// The width with the creator panel open: the whole design surface.
inline constexpr int kCreatorWidth = Image10.left + Image10.width;

// The area in window pixels, as the window places it.
inline QRect pixels(const Area& area) {
    return twips::rect(area.left, area.top, area.width, area.height);
}

// A line's pixels: one pixel thick, from the lesser end to the greater.
inline QRect pixels(const Line& line) {
    return QRect(twips::toPixels(std::min(line.x1, line.x2)),
                 twips::toPixels(std::min(line.y1, line.y2)),
                 std::max(1, twips::toPixels(std::abs(line.x2 - line.x1))),
                 std::max(1, twips::toPixels(std::abs(line.y2 - line.y1))));
}

// The area in the pixels of a picture that lies at `picture` in the same window.
inline QRect pixelsIn(const Area& area, const Area& picture) {
    return pixels(area).translated(-pixels(picture).topLeft());
}

// The pixel at the middle of the area, in window pixels: where a test clicks it.
inline QPoint centre(const Area& area) {
    return pixels(area).center();
}

} // namespace layout
