#include "player/Scroller.h"

double nextScrollLeft(double left, double labelWidth, double frameWidth, double speedFactor) {
    const double moved = left - speedFactor * 5;
    // Single precision, as the sum has always been taken: the wrap test must not differ.
    const float rightEdge = static_cast<float>(labelWidth + moved);
    return rightEdge < 0 ? frameWidth + 30 : moved;
}
