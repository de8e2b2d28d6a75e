#pragma once

#include <QFont>
#include <QRect>
#include <QString>

#include <functional>

// The layouts were drawn for the fonts Windows has (Verdana, the 8-point dialog font); here
// fontconfig offers another face in their stead, often taller or wider, and a text in another
// script brings fonts of its own. Texts that must stay whole in their fixed room are drawn in
// the largest size that fits it instead. UI thread only.
namespace fontfit {

// `font` at the largest size, down from its own in quarter points, at which `fits` holds; at
// the smallest step when none does.
QFont largestFitting(QFont font, const std::function<bool(const QFont&)>& fits);

// Whether `text`, laid out in `font` with the alignment and wrapping `flags` in `room`, needs
// no more than the room (a label lays out its plain text so).
bool textFits(const QFont& font, const QRect& room, int flags, const QString& text);

// Whether every glyph of the one line `text`, drawn in `font` as a label draws it from the top
// of its room, stands inside a room `height` pixels high and inside the line the font declares.
// The glyphs are drawn to find out: the tops of accents over capitals and the fonts that other
// scripts fall back on reach beyond the metrics the font declares.
bool glyphsFit(const QFont& font, int height, const QString& text);

} // namespace fontfit
