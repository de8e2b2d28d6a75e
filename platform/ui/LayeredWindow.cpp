#include "platform/ui/LayeredWindow.h"

#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QPointer>
#include <QRegion>
#include <QTimer>
#include <QWidget>

namespace {

QRgb toRgb(COLORREF colour) {
    return qRgb(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

// The pixels of `image` in any colour but the key, as a region. Rows with the same runs are merged
// into one band, which keeps the X shape small for skins made of large pictures.
QRegion regionWithoutColour(const QImage& image, QRgb key) {
    QList<QRect> rects;
    QList<QPair<int, int>> bandRuns, rowRuns; // [left, right) of each run
    int bandTop = 0;
    const auto closeBand = [&](int bottom) {
        for (const auto& [left, right] : bandRuns)
            rects << QRect(left, bandTop, right - left, bottom - bandTop);
    };
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        rowRuns.clear();
        for (int x = 0; x < image.width();) {
            while (x < image.width() && row[x] == key)
                ++x;
            const int left = x;
            while (x < image.width() && row[x] != key)
                ++x;
            if (x > left)
                rowRuns << qMakePair(left, x);
        }
        if (y == 0 || rowRuns != bandRuns) {
            closeBand(y);
            bandRuns = rowRuns;
            bandTop = y;
        }
    }
    closeBand(image.height());
    QRegion region;
    region.setRects(rects.constData(), int(rects.size()));
    return region;
}

// The widget as it looks now, children included, whatever its current shape.
QImage renderedPixels(QWidget* widget) {
    QImage image(widget->size(), QImage::Format_RGB32);
    image.fill(widget->palette().color(widget->backgroundRole()));
    widget->render(&image, QPoint(), QRegion(),
                   QWidget::DrawWindowBackground | QWidget::DrawChildren | QWidget::IgnoreMask);
    return image;
}

// Everything the layered calls remember about one window; a child object of that window, so it
// lives exactly as long as the window does.
class LayeredState : public QObject {
public:
    explicit LayeredState(QWidget* window) : QObject(window), m_window(window) {
        window->installEventFilter(this);
    }

    static LayeredState* of(QWidget* window) {
        for (QObject* child : window->children())
            if (auto* state = dynamic_cast<LayeredState*>(child))
                return state;
        return nullptr;
    }
    static LayeredState& ensure(QWidget* window) {
        LayeredState* state = of(window);
        return state ? *state : *new LayeredState(window);
    }

    LONG exStyle = 0;

    void setColourKey(COLORREF key) {
        m_key = toRgb(key);
        m_keyed = true;
        if (m_window->isVisible())
            reshape();
    }
    void dropColourKey() {
        m_keyed = false;
        m_window->clearMask();
    }
    void scheduleReshape() {
        if (!m_keyed || m_reshapePending)
            return;
        m_reshapePending = true;
        QTimer::singleShot(0, this, [this] {
            m_reshapePending = false;
            reshape();
        });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_window && m_keyed) {
            // Shaping before the window is mapped avoids one unshaped frame; a resize waits
            // for the window's own resize handler to place its children first.
            if (event->type() == QEvent::Show)
                reshape();
            else if (event->type() == QEvent::Resize && m_window->isVisible())
                scheduleReshape();
        }
        return false;
    }

private:
    void reshape() {
        if (!m_keyed || m_window->size().isEmpty())
            return;
        QRegion region = regionWithoutColour(renderedPixels(m_window), m_key);
        // An empty mask means "no mask" to Qt; a window drawn entirely in the key colour must
        // vanish instead, so it keeps one pixel outside its own area.
        if (region.isEmpty())
            region = QRegion(-1, -1, 1, 1);
        m_window->setMask(region);
    }

    QWidget* m_window;
    QRgb m_key = 0;
    bool m_keyed = false;
    bool m_reshapePending = false;
};

} // namespace

LONG GetWindowLongA(QWidget* hwnd, int index) {
    if (!hwnd || index != GWL_EXSTYLE)
        return 0;
    const LayeredState* state = LayeredState::of(hwnd);
    return state ? state->exStyle : 0;
}

LONG SetWindowLongA(QWidget* hwnd, int index, LONG newLong) {
    if (!hwnd || index != GWL_EXSTYLE)
        return 0;
    LayeredState& state = LayeredState::ensure(hwnd);
    const LONG previous = state.exStyle;
    state.exStyle = newLong;
    if ((previous & WS_EX_LAYERED) && !(newLong & WS_EX_LAYERED))
        state.dropColourKey();
    return previous;
}

BOOL SetLayeredWindowAttributes(QWidget* hwnd, COLORREF key, BYTE alpha, DWORD flags) {
    if (!hwnd || !layered::shapingSupported())
        return 0;
    LayeredState* state = LayeredState::of(hwnd);
    if (!state || !(state->exStyle & WS_EX_LAYERED))
        return 0;
    if (flags & LWA_ALPHA)
        hwnd->setWindowOpacity(alpha / 255.0);
    if (flags & LWA_COLORKEY)
        state->setColourKey(key);
    return 1;
}

namespace layered {

void invalidateLayeredWindow(QWidget* hwnd) {
    if (!hwnd)
        return;
    if (LayeredState* state = LayeredState::of(hwnd))
        state->scheduleReshape();
}

bool shapingSupported() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("xcb") || platform == QLatin1String("offscreen");
}

} // namespace layered
