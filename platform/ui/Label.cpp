#include "platform/ui/Label.h"

#include "platform/ui/Twips.h"

Label::Label(const QString& caption, QWidget* parent) : QLabel(caption, parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    adjustSize();
}

void Label::setCaption(const QString& caption) {
    setText(caption);
    adjustSize();
    place();
}

void Label::setLeftTwips(double twips) {
    m_leftTwips = twips;
    place();
}

void Label::setTopTwips(double twips) {
    m_topTwips = twips;
    place();
}

double Label::widthTwips() const { return twips::fromPixels(QLabel::width()); }

void Label::place() { move(twips::toPixels(m_leftTwips), twips::toPixels(m_topTwips)); }
