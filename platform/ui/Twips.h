#pragma once

#include <QRect>
#include <cmath>

// Positions and sizes in the layouts are twips: 15 twips are one device-independent pixel.
// Qt's high-DPI scaling maps those pixels onto the screen.
namespace twips {

inline constexpr int kPerPixel = 15;

inline int toPixels(double value) {
    return static_cast<int>(std::lround(value / kPerPixel));
}
inline int fromPixels(int pixels) {
    return pixels * kPerPixel;
}
inline QRect rect(int left, int top, int width, int height) {
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

} // namespace twips
