#include "platform/ui/LayeredWindow.h"

#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QRegion>
#include <QTimer>
#include <QWidget>
#include <QWindow>

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

// Set while a window is rendered to find its shape: what the window system's backend adds to
// the window's painting must not count as the window's own pixels.
bool renderingForShape = false;

// The widget as it looks now, children included, whatever its current shape.
QImage renderedPixels(QWidget* widget) {
    QImage image(widget->size(), QImage::Format_RGB32);
    image.fill(widget->palette().color(widget->backgroundRole()));
    renderingForShape = true;
    widget->render(&image, QPoint(), QRegion(),
                   QWidget::DrawWindowBackground | QWidget::DrawChildren | QWidget::IgnoreMask);
    renderingForShape = false;
    return image;
}

// The topmost child of a translucent window: it erases (makes fully transparent) every pixel
// outside the window's shape after the controls beneath it have painted, so key-coloured pixels
// that a control paints (a skin picture's corners) do not show. Input passes through it.
class OutsideShapeEraser : public QWidget {
public:
    explicit OutsideShapeEraser(QWidget* window) : QWidget(window) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_TranslucentBackground);
    }

    void follow(const QRegion& shape) {
        setGeometry(parentWidget()->rect());
        const QRegion outside = QRegion(rect()) - shape;
        if (outside != m_outside) {
            m_outside = outside;
            update();
        }
        raise();
        show();
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        if (renderingForShape)
            return;
        QPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        for (const QRect& rect : m_outside & event->region())
            painter.fillRect(rect, Qt::transparent);
    }

private:
    QRegion m_outside;
};

// How a window system shows a colour-keyed window. Both take the same region (the pixels that
// are not the key, in the window's logical pixels); the region is always the window's mask,
// which clips its painting and sets where it takes input.
class KeyBackend {
public:
    virtual ~KeyBackend() = default;
    virtual void applyShape(QWidget* window, const QRegion& shape) const = 0;
    // Called whenever the window's surface is exposed, with its shape applied before.
    virtual void exposed(QWidget* /*window*/) const {}
};

// X11 (and the offscreen platform): the mask becomes the window's shape, which needs no
// compositor; outside it the screen shows what lies beneath.
class ShapeBackend : public KeyBackend {
public:
    void applyShape(QWidget* window, const QRegion& shape) const override {
        window->setMask(shape);
    }
};

// Wayland: a shape clips neither the window's painting nor what the compositor shows, so the
// window's surface carries alpha instead, and every pixel outside the shape is drawn fully
// transparent. The mask is the surface's input region, so clicks there reach what lies beneath.
class AlphaBackend : public KeyBackend {
public:
    void applyShape(QWidget* window, const QRegion& shape) const override {
        // Showing the remade window shapes it again, from its Show event.
        if (remadeTranslucent(window))
            return;
        eraserOf(window).follow(shape);
        window->setMask(shape);
    }

    // Qt 6.4 gives each new surface (after every show) the widget's mask as its input region
    // unscaled, in the window's own pixels rather than the surface's: at a scale factor other
    // than 1 most of the window then lets clicks through. Once the surface is exposed, the mask
    // is handed over again, scaled, after whatever else the exposure sets off in this pass.
    void exposed(QWidget* window) const override {
        QTimer::singleShot(0, window, [window] {
            if (!window->mask().isEmpty() && window->windowHandle())
                window->windowHandle()->setMask(window->mask());
        });
    }

private:
    // A surface's pixel format is fixed when the surface is made, so a window already shown
    // without alpha is made again, with it, and shown again. Returns whether that happened.
    static bool remadeTranslucent(QWidget* window) {
        if (window->testAttribute(Qt::WA_TranslucentBackground))
            return false;
        QWindow* handle = window->windowHandle();
        const bool remake = handle && handle->handle();
        const bool visible = window->isVisible();
        if (remake) {
            window->hide();
            handle->destroy();
        }
        window->setAttribute(Qt::WA_TranslucentBackground);
        if (!remake || !visible)
            return false;
        window->show();
        return true;
    }

    static OutsideShapeEraser& eraserOf(QWidget* window) {
        for (QObject* child : window->children())
            if (auto* eraser = dynamic_cast<OutsideShapeEraser*>(child))
                return *eraser;
        return *new OutsideShapeEraser(window);
    }
};

const KeyBackend* backendForThisWindowSystem() {
    static const ShapeBackend shape;
    static const AlphaBackend alpha;
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb") || platform == QLatin1String("offscreen"))
        return &shape;
    if (platform.startsWith(QLatin1String("wayland")))
        return &alpha;
    return nullptr;
}

// Everything the layered calls remember about one window; a child object of that window, so it
// lives exactly as long as the window does.
class LayeredState : public QObject {
public:
    explicit LayeredState(QWidget* window) : QObject(window), m_window(window) {
        window->installEventFilter(this);
    }

    static LayeredState* of(const QWidget* window) {
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
    std::optional<QRgb> colourKey() const {
        return m_keyed ? std::optional<QRgb>(m_key) : std::nullopt;
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
            if (m_reshapePending)
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
            // A pending shape is applied before the paint it belongs to, so that no frame shows
            // the key colour where a resize uncovered it (a translucent window would show it).
            else if (event->type() == QEvent::UpdateRequest && m_reshapePending)
                reshape();
        } else if (m_keyed && event->type() == QEvent::Expose &&
                   watched == m_window->windowHandle() && m_window->windowHandle()->isExposed()) {
            backendForThisWindowSystem()->exposed(m_window);
        }
        return false;
    }

private:
    void reshape() {
        m_reshapePending = false;
        if (!m_keyed || m_window->size().isEmpty())
            return;
        // The surface's exposures are watched from the first shape on (its window object stays
        // when the surface is made again).
        if (QWindow* handle = m_window->windowHandle())
            handle->installEventFilter(this);
        QRegion region = regionWithoutColour(renderedPixels(m_window), m_key);
        // An empty mask means "no mask" to Qt; a window drawn entirely in the key colour must
        // vanish instead, so it keeps one pixel outside its own area.
        if (region.isEmpty())
            region = QRegion(-1, -1, 1, 1);
        backendForThisWindowSystem()->applyShape(m_window, region);
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
    if (!hwnd || !backendForThisWindowSystem())
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

std::optional<QRgb> colourKey(const QWidget* hwnd) {
    const LayeredState* state = hwnd ? LayeredState::of(hwnd) : nullptr;
    return state ? state->colourKey() : std::nullopt;
}

bool shapingSupported() {
    return backendForThisWindowSystem() != nullptr;
}

} // namespace layered
