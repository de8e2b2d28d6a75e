#pragma once

// One step of a marquee strip, in twips: the label moves left by speedFactor * 5, and once its
// right edge has passed the frame's left edge (strictly) it re-enters just beyond the frame's
// right edge. Returns the label's new left.
double nextScrollLeft(double left, double labelWidth, double frameWidth, double speedFactor);
