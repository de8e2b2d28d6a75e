#pragma once

#include <QPixmap>
#include <QWidget>

// The classic image control: shows a fixed picture (or nothing, as an invisible click area)
// and reports the mouse. Coordinates in its signals are twips relative to the control; the
// button masks are the classic ones (1 left, 2 right, 4 middle). UI thread only.
class ImageControl : public QWidget {
    Q_OBJECT
public:
    explicit ImageControl(QWidget* parent, const QPixmap& picture = {});

    const QPixmap& picture() const { return m_picture; }

    static int buttonMask(Qt::MouseButtons buttons);

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

private:
    QPixmap m_picture;
};
