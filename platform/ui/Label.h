#pragma once

#include <QLabel>

// A label that sizes itself to its caption and keeps its left edge in twips, so that code
// moving it in twip steps does not lose fractions of a pixel. UI thread only.
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

private:
    void place();

    double m_leftTwips = 0;
    double m_topTwips = 0;
};
