#pragma once

#include <QLabel>
#include <QPixmap>

#include <optional>

// A label that sizes itself to its caption and keeps its left edge in twips, so that code
// moving it in twip steps does not lose fractions of a pixel. UI thread only.
//
// Labels were windowless, drawn by their container at their left edge, and a marquee moves one
// every few pixels ten times a second. Moving a child widget makes the toolkit scroll its
// pixels and repaint the container beneath, so the widget here spans its container's width
// at the caption's height and draws the caption where its twips say: a move repaints the
// caption's old and new pixels and nothing else. The caption's look (its text over the
// container's colour, or over nothing) is kept in a picture made when the caption, size, font,
// palette or style change, so a move lays out no text. The caption is drawn in the font the
// label is given, or in the largest size of it at which the caption stands whole in the
// container's height below the label's top: font() tells the size drawn.
class Label : public QLabel {
    Q_OBJECT
public:
    Label(const QString& caption, QWidget* parent);

    QString caption() const { return text(); }
    // Sets the caption and sizes the label to fit it; the left edge stays where it is.
    void setCaption(const QString& caption);

    double leftTwips() const { return m_leftTwips; }
    void setLeftTwips(double twips);
    double topTwips() const { return m_topTwips; }
    void setTopTwips(double twips);
    // The caption's width. The widget itself spans its container, so QWidget's width() is the
    // container's: it is hidden here, and spanWidthPixels() names that one.
    double captionWidthTwips() const;
    int spanWidthPixels() const { return QLabel::width(); }
    int width() const = delete;

    // Where the caption shows, in the container's pixels.
    QRect shownRect() const;

    // Shows the caption where its twips say. A label in a minimised window stays where it is,
    // so a marquee moving it paints nothing there; the window calls this once it is restored.
    void place();

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void fitCaption();
    void fitFont();
    void spanContainer();
    void drawLook();
    QRect captionRect(int left) const;

    QFont m_font;           // the font the label was given
    bool m_fitting = false; // while the fitted size is set
    double m_leftTwips = 0;
    double m_topTwips = 0;
    QSize m_captionSize;
    int m_shownLeft = 0; // where the caption is drawn now, in pixels
    QPixmap m_look;      // the caption over its container's colour, or over nothing
    qreal m_lookRatio = 0;
    std::optional<QColor> m_background; // the container's colour, when it fills itself with one
};
