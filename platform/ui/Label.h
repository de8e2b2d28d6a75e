#pragma once

#include <QLabel>
#include <QPixmap>

// A label that sizes itself to its caption and keeps its left edge in twips, so that code
// moving it in twip steps does not lose fractions of a pixel. UI thread only.
//
// A marquee moves the label every few pixels, several times a second, while its look stays
// the same: when its parent fills itself with one opaque colour, the label keeps its look (the
// text over that colour) in a picture made when the caption, size, font, palette or style
// change, and paints that picture instead of laying out its text again on every move.
class Label : public QLabel {
    Q_OBJECT
public:
    Label(const QString& caption, QWidget* parent);

    QString caption() const { return text(); }
    // Sets the caption and resizes the label to fit it; the left edge stays where it is.
    void setCaption(const QString& caption);

    double leftTwips() const { return m_leftTwips; }
    void setLeftTwips(double twips);
    double topTwips() const { return m_topTwips; }
    void setTopTwips(double twips);
    double widthTwips() const;

    // Puts the label where its twips say. A label in a minimised window stays where it is,
    // so a marquee moving it paints nothing there; the window calls this once it is restored.
    void place();

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void refreshLook();
    bool lookFits() const;

    double m_leftTwips = 0;
    double m_topTwips = 0;
    QPixmap m_look;              // the label as it looks over its parent; null when not kept
    bool m_paintingLook = false; // the next paint event draws into m_look
};
