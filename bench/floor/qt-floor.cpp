// The least a Qt widget program pays on this machine for what an idle, shown player does ten
// times a second: three 100 ms timers and two marquee strips of the player's size, each tick
// repainting a kept picture of the caption a few pixels further left. No layout, no text drawn
// per tick, no other widget. The display benchmark measures it beside the player, so that its
// figures say how far the player is from what the toolkit itself costs here.
#include "player/Layout.h"
#include "player/Settings.h"

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>

namespace {

class Strip : public QWidget {
public:
    Strip(QWidget* window, const layout::Area& area, const QString& caption)
        : QWidget(window), m_left(twips::toPixels(area.width)) {
        setGeometry(layout::pixels(area));
        setAttribute(Qt::WA_OpaquePaintEvent);
        const QSize size = fontMetrics().size(Qt::TextSingleLine, caption);
        m_look = QPixmap(size * devicePixelRatioF());
        m_look.setDevicePixelRatio(devicePixelRatioF());
        m_look.fill(Qt::darkCyan);
        QPainter(&m_look).drawText(QRect(QPoint(), size), caption);
    }

    void tick() {
        const int before = m_left;
        m_left = m_left + m_look.width() < 0 ? width() : m_left - 3;
        update(QRect(std::min(before, m_left), 0, m_look.width() + 3, height()));
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        painter.fillRect(event->rect(), Qt::darkCyan);
        painter.drawPixmap(m_left, 0, m_look);
    }

private:
    int m_left;
    QPixmap m_look;
};

QTimer* every100ms(QObject* parent) {
    auto* timer = new QTimer(parent);
    timer->setInterval(100);
    timer->start();
    return timer;
}

} // namespace

int main(int argc, char** argv) {
    // As the player does (main.cpp): a flush without MIT-SHM makes no round trip.
    if (qEnvironmentVariableIsEmpty("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Qt floor"));
    window.resize(layout::pixels(layout::Image1).width(),
                  twips::toPixels(settings::kPlaylistHeight));
    Strip title(&window, layout::pic, QStringLiteral("Quiva Media Player"));
    Strip hint(&window, layout::pic2, QStringLiteral("You can add music to the playlist"));
    QObject::connect(every100ms(&app), &QTimer::timeout, &title, &Strip::tick);
    QObject::connect(every100ms(&app), &QTimer::timeout, &hint, &Strip::tick);
    every100ms(&app); // the volume control's poll, which finds nothing to do
    window.show();
    return app.exec();
}
