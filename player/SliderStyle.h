#pragma once

#include <QProxyStyle>

// The volume slider's look: a thin dark groove and a small light thumb with a dark border and
// cut corners, painted as plain rectangles over the application's style, which still handles
// the mouse and keys. A style sheet drew much the same, but its engine and the arcs of its
// rounded corners kept about 0.7 MB of the running player's memory. With the keyboard focus a
// dotted frame runs round it.
class SliderStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                         const QWidget* widget) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override;
};
