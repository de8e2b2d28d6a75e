#include "platform/ui/Label.h"

#include "platform/ui/FontFit.h"
#include "platform/ui/Twips.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace {

// The colour a container shows everywhere behind its children, if it fills itself with one.
std::optional<QColor> solidFill(const QWidget* container) {
    if (!container || !container->autoFillBackground())
        return std::nullopt;
    const QBrush& brush = container->palette().brush(container->backgroundRole());
    if (brush.style() != Qt::SolidPattern || !brush.isOpaque())
        return std::nullopt;
    return brush.color();
}

} // namespace

// A caption is shown as written: a file name that looks like markup is still a file name.
Label::Label(const QString& caption, QWidget* parent) : QLabel(caption, parent), m_font(font()) {
    setTextFormat(Qt::PlainText);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    fitCaption();
}

// The hint is set again on every mouse move over a button: the same caption redraws nothing.
void Label::setCaption(const QString& caption) {
    if (caption == text())
        return;
    setText(caption);
    fitCaption();
}

void Label::setLeftTwips(double twips) {
    m_leftTwips = twips;
    place();
}

void Label::setTopTwips(double twips) {
    m_topTwips = twips;
    fitCaption();
}

double Label::captionWidthTwips() const {
    return twips::fromPixels(m_captionSize.width());
}

QRect Label::shownRect() const {
    return captionRect(m_shownLeft).translated(pos());
}

void Label::place() {
    if (window()->isMinimized())
        return;
    const int left = twips::toPixels(m_leftTwips);
    if (left == m_shownLeft)
        return;
    update(captionRect(m_shownLeft).united(captionRect(left)));
    m_shownLeft = left;
}

void Label::paintEvent(QPaintEvent* event) {
    if (m_lookRatio != devicePixelRatioF())
        drawLook();
    QPainter painter(this);
    if (m_background)
        painter.fillRect(event->rect(), *m_background);
    painter.drawPixmap(m_shownLeft, 0, m_look);
}

void Label::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (m_fitting)
        return;
    switch (event->type()) {
    case QEvent::FontChange:
        m_font = font();
        fitCaption();
        break;
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
    case QEvent::LayoutDirectionChange:
    case QEvent::EnabledChange:
    case QEvent::ActivationChange:
    case QEvent::ParentChange:
        fitCaption();
        break;
    default:
        break;
    }
}

void Label::fitCaption() {
    fitFont();
    m_captionSize = sizeHint();
    spanContainer();
    drawLook();
    update();
}

// The skin's frames were drawn for Verdana; the faces offered in its stead (DejaVu Sans on
// Debian), and the fonts of other scripts, stand taller, and their letters' tails would fall
// below the frame.
void Label::fitFont() {
    const int room =
        parentWidget() ? parentWidget()->height() - twips::toPixels(m_topTwips) : QWIDGETSIZE_MAX;
    const auto fits = [&](const QFont& candidate) {
        return fontfit::glyphsFit(candidate, room, text());
    };
    QFont fitted = fontfit::largestFitting(m_font, fits);
    // A caption that no size fits (a frame too low for any text) keeps its size.
    if (!fits(fitted))
        fitted = m_font;
    if (fitted == font())
        return;
    m_fitting = true;
    setFont(fitted);
    m_fitting = false;
}

// The container's width as it is when the caption or the top is set: a strip's frame keeps
// its size.
void Label::spanContainer() {
    const int width = parentWidget() ? parentWidget()->width() : m_captionSize.width();
    setGeometry(0, twips::toPixels(m_topTwips), width, m_captionSize.height());
}

// Drawn as the label itself draws plain text, so the kept look and a plain label agree to the
// pixel.
void Label::drawLook() {
    m_background = solidFill(parentWidget());
    setAttribute(Qt::WA_OpaquePaintEvent, m_background.has_value());
    m_lookRatio = devicePixelRatioF();
    m_look = QPixmap(m_captionSize * m_lookRatio);
    m_look.setDevicePixelRatio(m_lookRatio);
    if (m_look.isNull())
        return;
    m_look.fill(m_background.value_or(Qt::transparent));
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(&m_look);
    painter.setFont(font());
    const auto flags = static_cast<int>(QStyle::visualAlignment(layoutDirection(), alignment()));
    style()->drawItemText(&painter, QRect(QPoint(), m_captionSize), flags, option.palette,
                          isEnabled(), text(), foregroundRole());
}

QRect Label::captionRect(int left) const {
    return QRect(QPoint(left, 0), m_captionSize);
}
