#include "platform/ui/ImageControl.h"

#include "platform/ui/LayeredWindow.h"
#include "platform/ui/Png.h"
#include "platform/ui/Twips.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <vector>

namespace {

// Kept in the format decoded: the skin's pictures are palette images, a byte a pixel, a quarter of
// the memory of their 32-bit conversion. Painting converts only what it draws, and only when the
// window is exposed: the strips' ticks repaint nothing beneath them.
QPixmap readPng(const QString& file) {
    return QPixmap::fromImage(png::read(file), Qt::NoFormatConversion);
}

QString doubleSizedName(const QString& file) {
    const qsizetype dot = file.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : file.left(dot) + QStringLiteral("@2x") + file.mid(dot);
}

// Every key-coloured pixel takes the colour of the nearest pixel that is not the key (nearest in
// steps between neighbours), so that smoothing, which mixes neighbours, mixes in no key colour.
QImage keyCoveredOver(QImage image, QRgb key) {
    const int width = image.width();
    std::vector<QPoint> front;
    std::vector<bool> settled(size_t(width) * size_t(image.height()));
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < width; ++x)
            if (image.pixel(x, y) != key) {
                settled[size_t(y) * size_t(width) + size_t(x)] = true;
                front.emplace_back(x, y);
            }
    while (!front.empty()) {
        std::vector<QPoint> next;
        for (const QPoint from : front) {
            for (const QPoint step : {QPoint(-1, 0), QPoint(1, 0), QPoint(0, -1), QPoint(0, 1)}) {
                const QPoint to = from + step;
                const size_t at = size_t(to.y()) * size_t(width) + size_t(to.x());
                if (!image.rect().contains(to) || settled[at])
                    continue;
                settled[at] = true;
                image.setPixel(to, image.pixel(from));
                next.push_back(to);
            }
        }
        front = std::move(next);
    }
    return image;
}

// `source` scaled smoothly to `size`. The key is covered over first, so no pixel of the result is
// the key or tinted by it: at a fractional ratio the window's shape, computed in window pixels,
// does not fall on the picture's pixel edges, and a pixel it leaves on the screen must not be
// orange-ish. What is see-through stays the shape's business.
QImage smoothlyScaled(const QImage& source, QSize size, std::optional<QRgb> key) {
    const QImage grown = key ? keyCoveredOver(source, *key) : source;
    return grown.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// A dotted frame just inside the control, black over white so that it shows on any picture.
void drawFocusMark(QPainter& painter, const QRect& area) {
    const QRect frame = area.adjusted(0, 0, -1, -1);
    painter.setPen(QPen(Qt::white, 1));
    painter.drawRect(frame);
    painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
    painter.drawRect(frame);
}

bool pressesButton(const QKeyEvent* event) {
    const int key = event->key();
    return !event->isAutoRepeat() && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
           (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter);
}

class AccessibleImageButton : public QAccessibleWidget {
public:
    explicit AccessibleImageButton(ImageControl* control)
        : QAccessibleWidget(control, QAccessible::Button) {}

    QStringList actionNames() const override {
        return QStringList(pressAction()) + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == pressAction())
            static_cast<ImageControl*>(widget())->press();
        else
            QAccessibleWidget::doAction(action);
    }
};

QAccessibleInterface* accessibleImageButton(const QString& className, QObject* object) {
    auto* control = qobject_cast<ImageControl*>(object);
    const bool button =
        className == QLatin1String("ImageControl") && control && control->isButton();
    return button ? new AccessibleImageButton(control) : nullptr;
}

} // namespace

ImageControl::ImageControl(QWidget* parent, const QString& pictureFile)
    : QWidget(parent), m_pictureFile(pictureFile), m_doubleSizedFile(doubleSizedName(pictureFile)) {
    // Hover hints need moves without a button held.
    setMouseTracking(true);
    if (pictureFile.isEmpty())
        setAttribute(Qt::WA_TranslucentBackground);
}

const QPixmap& ImageControl::picture() {
    if (!m_picture)
        m_picture = m_pictureFile.isEmpty() ? QPixmap() : readPng(m_pictureFile);
    return *m_picture;
}

void ImageControl::makeButton(const QString& name, const QString& description) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleImageButton);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    m_isButton = true;
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(name);
    setAccessibleDescription(description);
}

void ImageControl::press() {
    emit click();
}

int ImageControl::buttonMask(Qt::MouseButtons buttons) {
    return (buttons & Qt::LeftButton ? 1 : 0) | (buttons & Qt::RightButton ? 2 : 0) |
           (buttons & Qt::MiddleButton ? 4 : 0);
}

const QPixmap& ImageControl::doubleSized() {
    if (!m_doubleSized) {
        m_doubleSized = m_doubleSizedFile.isEmpty() ? QPixmap() : readPng(m_doubleSizedFile);
        m_doubleSized->setDevicePixelRatio(2);
    }
    return *m_doubleSized;
}

QPixmap ImageControl::pictureFor(qreal ratio) {
    if (picture().isNull() || qFuzzyCompare(ratio, 1.0) || doubleSized().isNull())
        return picture();
    if (qFuzzyCompare(ratio, 2.0))
        return doubleSized();
    const QSize size(qRound(picture().width() * ratio), qRound(picture().height() * ratio));
    const std::optional<QRgb> key = layered::colourKey(window());
    if (m_smoothed.size() != size || m_smoothedKey != key) {
        m_smoothed = QPixmap::fromImage(smoothlyScaled(
            doubleSized().toImage().convertToFormat(QImage::Format_RGB32), size, key));
        m_smoothed.setDevicePixelRatio(ratio);
        m_smoothedKey = key;
    }
    return m_smoothed;
}

void ImageControl::paintEvent(QPaintEvent*) {
    if (picture().isNull() && !hasFocus())
        return;
    QPainter painter(this);
    if (!picture().isNull()) {
        // The ratio of the device painted on: the screen's, or 1 where the window is rendered
        // into a plain image (as for its shape).
        const qreal ratio = painter.deviceTransform().m11();
        // Whole pixels at 1 and 2; the smoothed picture already has the device's size.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawPixmap(rect(), pictureFor(ratio));
    }
    if (hasFocus())
        drawFocusMark(painter, rect());
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

void ImageControl::keyPressEvent(QKeyEvent* event) {
    if (m_isButton && pressesButton(event))
        press();
    else
        QWidget::keyPressEvent(event);
}
