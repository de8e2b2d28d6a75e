#pragma once

#include <QImage>

// The program's icons and the volume control's pictures.
namespace skin {

QImage drawWindowIcon16();  // 16 x 16, at most 256 colours, one-bit transparency
QImage drawWindowIcon48();  // 48 x 48, full colour with alpha
QImage drawAboutIcon();     // 32 x 32, the 16 colours of the classic palette
QImage drawDalvexFace();    // 32 x 32, 16 colours, transparent background
QImage drawDalvexToolbox(); // 16 x 15, 24-bit

} // namespace skin
