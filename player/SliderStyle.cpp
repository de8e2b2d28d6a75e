#include "player/SliderStyle.h"

#include <QPainter>
#include <QStyleOptionSlider>

namespace {

const QColor kGroove(0x4c, 0x5c, 0x61);
const QColor kThumb(0xe8, 0xe8, 0xe8);
const QColor kThumbBorder(0x50, 0x50, 0x50);
constexpr int kThumbSize = 9; // square, its border included
constexpr int kGrooveHeight = 3;
constexpr int kGrooveInset = 2; // at each end; the thumb travels within the groove

const QStyleOptionSlider* horizontalSlider(QStyle::ComplexControl control,
                                           const QStyleOptionComplex* option) {
    const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
    return control == QStyle::CC_Slider && slider && slider->orientation == Qt::Horizontal
               ? slider
               : nullptr;
}

// A one-pixel border whose corner pixels are left out: a thumb this small looks rounded so.
void drawThumb(QPainter* painter, const QRect& thumb) {
    painter->fillRect(thumb.adjusted(1, 1, -1, -1), kThumb);
    const int across = thumb.width() - 2;
    const int down = thumb.height() - 2;
    painter->fillRect(QRect(thumb.left() + 1, thumb.top(), across, 1), kThumbBorder);
    painter->fillRect(QRect(thumb.left() + 1, thumb.bottom(), across, 1), kThumbBorder);
    painter->fillRect(QRect(thumb.left(), thumb.top() + 1, 1, down), kThumbBorder);
    painter->fillRect(QRect(thumb.right(), thumb.top() + 1, 1, down), kThumbBorder);
}

// A dotted frame round the whole slider; the thumb, drawn after it, stays whole.
void drawFocusMark(QPainter* painter, const QRect& area) {
    painter->save();
    painter->setPen(QPen(kThumbBorder, 1, Qt::DotLine));
    painter->drawRect(area.adjusted(0, 0, -1, -1));
    painter->restore();
}

} // namespace

int SliderStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                             const QWidget* widget) const {
    switch (metric) {
    case PM_SliderLength:
    case PM_SliderThickness:
    case PM_SliderControlThickness:
        return kThumbSize;
    default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

// The slider maps the mouse to values through the groove's and the thumb's rectangles, so both
// are given here and the thumb is always where a click takes it.
QRect SliderStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                  SubControl part, const QWidget* widget) const {
    const QStyleOptionSlider* slider = horizontalSlider(control, option);
    if (!slider || (part != SC_SliderGroove && part != SC_SliderHandle))
        return QProxyStyle::subControlRect(control, option, part, widget);
    const QRect track = slider->rect.adjusted(kGrooveInset, 0, -kGrooveInset, 0);
    if (part == SC_SliderGroove)
        return track;
    const int offset =
        sliderPositionFromValue(slider->minimum, slider->maximum, slider->sliderPosition,
                                track.width() - kThumbSize, slider->upsideDown);
    return QRect(track.left() + offset, slider->rect.center().y() - kThumbSize / 2, kThumbSize,
                 kThumbSize);
}

void SliderStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                     QPainter* painter, const QWidget* widget) const {
    const QStyleOptionSlider* slider = horizontalSlider(control, option);
    if (!slider) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    const QRect track = subControlRect(control, option, SC_SliderGroove, widget);
    painter->fillRect(
        QRect(track.left(), track.center().y() - kGrooveHeight / 2, track.width(), kGrooveHeight),
        kGroove);
    if (slider->state & State_HasFocus)
        drawFocusMark(painter, slider->rect);
    drawThumb(painter, subControlRect(control, option, SC_SliderHandle, widget));
}
