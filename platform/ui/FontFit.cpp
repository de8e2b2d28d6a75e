#include "platform/ui/FontFit.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <algorithm>

namespace fontfit {

QFont largestFitting(QFont font, const std::function<bool(const QFont&)>& fits) {
    constexpr double kStepPoints = 0.25;
    while (font.pointSizeF() > kStepPoints && !fits(font))
        font.setPointSizeF(font.pointSizeF() - kStepPoints);
    return font;
}

bool textFits(const QFont& font, const QRect& room, int flags, const QString& text) {
    const QRect needed = QFontMetrics(font).boundingRect(room, flags, text);
    return needed.width() <= room.width() && needed.height() <= room.height();
}

bool glyphsFit(const QFont& font, int height, const QString& text) {
    constexpr int kFlags = Qt::AlignLeft | Qt::AlignTop;
    const QRect line = QFontMetrics(font).boundingRect(QRect(), kFlags, text);
    const int margin = line.height();
    QImage probe(line.size() + QSize(2 * margin, 2 * margin), QImage::Format_Grayscale8);
    probe.fill(0);
    QPainter painter(&probe);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(QPoint(margin, margin), line.size()), kFlags, text);
    painter.end();
    const int bottom = margin + std::min(height, line.height());
    for (int y = 0; y < probe.height(); ++y) {
        const uchar* row = probe.constScanLine(y);
        if ((y < margin || y >= bottom) &&
            std::any_of(row, row + probe.width(), [](uchar ink) { return ink != 0; }))
            return false;
    }
    return true;
}

} // namespace fontfit
