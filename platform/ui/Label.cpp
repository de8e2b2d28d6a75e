#include "platform/ui/Label.h"

#include "platform/ui/Twips.h"

#include <QEvent>
#include <QPainter>

#include <optional>

namespace {

// The colour a parent shows everywhere behind its children, if it fills itself with one.
std::optional<QColor> solidFill(const QWidget* parent) {
    if (!parent || !parent->autoFillBackground())
        return std::nullopt;
    const QBrush& brush = parent->palette().brush(parent->backgroundRole());
    if (brush.style() != Qt::SolidPattern || !brush.isOpaque())
        return std::nullopt;
    return brush.color();
}

} // namespace

Label::Label(const QString& caption, QWidget* parent) : QLabel(caption, parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    adjustSize();
}

void Label::setCaption(const QString& caption) {
    const bool newText = caption != text();
    const QSize before = size();
    setText(caption);
    adjustSize();
    place();
    // A new size has renewed the look already (resizeEvent).
    if (newText && size() == before)
        refreshLook();
}

void Label::setLeftTwips(double twips) {
    m_leftTwips = twips;
    place();
}

void Label::setTopTwips(double twips) {
    m_topTwips = twips;
    place();
}

double Label::widthTwips() const {
    return twips::fromPixels(QLabel::width());
}

void Label::place() {
    if (window()->isMinimized())
        return;
    move(twips::toPixels(m_leftTwips), twips::toPixels(m_topTwips));
}

void Label::paintEvent(QPaintEvent* event) {
    if (m_paintingLook || !lookFits()) {
        if (!m_paintingLook && testAttribute(Qt::WA_OpaquePaintEvent))
            QPainter(this).fillRect(rect(), solidFill(parentWidget()).value_or(Qt::black));
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_look);
}

void Label::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
    case QEvent::LayoutDirectionChange:
    case QEvent::EnabledChange:
    case QEvent::ParentChange:
        refreshLook();
        break;
    default:
        break;
    }
}

void Label::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    refreshLook();
}

void Label::showEvent(QShowEvent* event) {
    QLabel::showEvent(event);
    if (!lookFits())
        refreshLook();
}

bool Label::lookFits() const {
    return !m_look.isNull() && m_look.deviceIndependentSize().toSize() == size() &&
           m_look.devicePixelRatio() == devicePixelRatioF();
}

// Rendered only while shown: a hidden label renews its look once, when it is shown.
void Label::refreshLook() {
    const std::optional<QColor> background = solidFill(parentWidget());
    setAttribute(Qt::WA_OpaquePaintEvent, background.has_value());
    m_look = QPixmap();
    if (!background || !isVisible() || size().isEmpty())
        return;
    const qreal ratio = devicePixelRatioF();
    QPixmap look(size() * ratio);
    look.setDevicePixelRatio(ratio);
    look.fill(*background);
    m_paintingLook = true;
    render(&look, QPoint(), QRegion(), QWidget::RenderFlags());
    m_paintingLook = false;
    m_look = look;
    update();
}
