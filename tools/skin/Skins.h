#pragma once

#include <QImage>

// The three skin pictures of the main window. Every button and field lies exactly under the
// click area or control that the window places over it (window positions in twips / 15).
namespace skin {

QImage drawPlayerBar();     // 293 x 66, Image1
QImage drawPlaylistPanel(); // 293 x 300, Image6
QImage drawCreatorPanel();  // 300 x 200, Image10

} // namespace skin
