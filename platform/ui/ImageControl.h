#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>

#include <optional>

// The classic image control: shows a fixed picture (or nothing, as an invisible click area)
// and reports the mouse. Coordinates in its signals are twips relative to the control; the
// button masks are the classic ones (1 left, 2 right, 4 middle). UI thread only.
//
// A picture may come at two scales: NAME.png in window pixels and NAME@2x.png drawn for two
// device pixels a window pixel. Each paint picks by the device pixel ratio it paints at: 1 the
// picture itself, 2 the @2x one pixel for pixel, any other ratio (125%, 150%) the @2x one scaled
// smoothly, the colour key of a layered window first covered by its neighbours' colours so that
// none of it is blended in (the window's shape, computed at ratio 1, keeps those parts
// see-through).
//
// A control made a push button (makeButton) also serves the keyboard and assistive technologies:
// Tab gives it the focus (a click leaves the focus where it was), a dotted frame over it marks
// the focus, Space and Return press it, and it is exposed as a push button with a name, a
// description and a Press action. Every such press emits click(), as a click does.
class ImageControl : public QWidget {
    Q_OBJECT
public:
    // `pictureFile`: a PNG file or resource; empty for an invisible click area. It is read when
    // first painted or asked for: the pictures of panels not shown take no memory.
    explicit ImageControl(QWidget* parent, const QString& pictureFile = {});

    // Null for a click area, or when the file cannot be read.
    const QPixmap& picture();
    // The picture as painted at `ratio` device pixels a window pixel (its own ratio set).
    QPixmap pictureFor(qreal ratio);

    static int buttonMask(Qt::MouseButtons buttons);

    void makeButton(const QString& name, const QString& description);
    bool isButton() const { return m_isButton; }
    // What a click does, for the keyboard and assistive technologies: emits click().
    void press();

signals:
    // A left-button press and release over the control.
    void click();
    // `button` is the one button that went down; `buttons` every button held while moving.
    void mouseDown(int button, double xTwips, double yTwips);
    void mouseMove(int buttons, double xTwips, double yTwips);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    const QPixmap& doubleSized();

    QString m_pictureFile;
    QString m_doubleSizedFile;
    std::optional<QPixmap> m_picture;
    std::optional<QPixmap> m_doubleSized; // loaded when first painted at a ratio other than 1
    QPixmap m_smoothed;                   // for the last fractional ratio and key
    std::optional<QRgb> m_smoothedKey;
    bool m_isButton = false;
};
