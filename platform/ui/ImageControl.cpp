#include "platform/ui/ImageControl.h"

#include "platform/ui/Twips.h"

#include <QMouseEvent>
#include <QPainter>

ImageControl::ImageControl(QWidget* parent, const QPixmap& picture)
    : QWidget(parent), m_picture(picture) {
    // Hover hints need moves without a button held.
    setMouseTracking(true);
    if (m_picture.isNull())
        setAttribute(Qt::WA_TranslucentBackground);
}

int ImageControl::buttonMask(Qt::MouseButtons buttons) {
    return (buttons & Qt::LeftButton ? 1 : 0) | (buttons & Qt::RightButton ? 2 : 0) |
           (buttons & Qt::MiddleButton ? 4 : 0);
}

void ImageControl::paintEvent(QPaintEvent*) {
    if (m_picture.isNull())
        return;
    QPainter painter(this);
    // Nearest-neighbour keeps the pixel art crisp at any device pixel ratio.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawPixmap(rect(), m_picture);
}

void ImageControl::mousePressEvent(QMouseEvent* event) {
    const QPointF at = event->position() * twips::kPerPixel;
    emit mouseDown(buttonMask(event->button()), at.x(), at.y());
}

void ImageControl::mouseMoveEvent(QMouseEvent* event) {
    const QPointF at = event->position() * twips::kPerPixel;
    emit mouseMove(buttonMask(event->buttons()), at.x(), at.y());
}

void ImageControl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit click();
}
