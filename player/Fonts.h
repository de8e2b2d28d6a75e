#pragma once

#include <QFont>
#include <QString>

// The skin's typeface. Where Verdana is not installed, fontconfig picks the closest sans face,
// and faces differ in their metrics: what is laid out in these fonts (a playlist entry's
// height) is measured where it matters, never assumed.
namespace fonts {

inline QFont skin(double points, bool bold = false) {
    QFont font(QStringLiteral("Verdana"));
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

// The playlist's entries.
inline QFont playlist() {
    return skin(6.75);
}

} // namespace fonts
