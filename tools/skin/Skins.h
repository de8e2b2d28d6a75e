#pragma once

#include <QImage>

// The three skin pictures of the main window. Every button and field lies exactly under the
// click area or control that the window places over it (window positions in twips / 15).
// Drawn at scale 1 or 2 (the picture is then twice as wide and high, for screens of two device
// pixels a window pixel); the see-through parts are the same window pixels at both scales.
namespace skin {

QImage drawPlayerBar(int scale = 1);     // 293 x 66, Image1
QImage drawPlaylistPanel(int scale = 1); // 293 x 300, Image6
QImage drawCreatorPanel(int scale = 1);  // 300 x 200, Image10

} // namespace skin
