#pragma once

#include <QImage>

// The program's icons, the volume control's pictures and the directory list's folders.
namespace skin {

QImage drawWindowIcon16(); // 16 x 16, at most 256 colours, one-bit transparency
// The same mark at a size the desktop asks for (24, 32, 48 and up): full colour with alpha.
QImage drawWindowIcon(int size);
// 32 x 32 window pixels, the 16 colours of the classic palette; at scale 2 enlarged with Scale2x.
QImage drawAboutIcon(int scale = 1);
QImage drawDalvexFace();    // 32 x 32, 16 colours, transparent background
QImage drawDalvexToolbox(); // 16 x 15, 24-bit
// The directory list's folders, 16 x 16 window pixels, 16 colours, transparent background: an
// open one for the current directory and its ancestors, a closed one for the subdirectories.
// At scale 2 (32 x 32) the pixel art is enlarged with Scale2x, in the same colours.
QImage drawOpenFolderIcon(int scale = 1);
QImage drawClosedFolderIcon(int scale = 1);

} // namespace skin
