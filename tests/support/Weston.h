#pragma once

#include "tests/support/Xvfb.h"

#include <QImage>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <sys/types.h>

// A private Wayland compositor for end-to-end tests: weston's headless backend with the pixman
// renderer on a socket of its own in $XDG_RUNTIME_DIR, one 1024x768 output at the given scale,
// a plain background (kBackground) and no panel. It runs with --debug, without which weston
// refuses weston-screenshooter. Stopped by its PID when the object goes away.
//
// A headless weston has no input devices: nothing can click, type or drag on it. With a pointer,
// weston runs on its x11 backend instead, its output a window of a private Xvfb, and clicks are
// real X input that weston hands on. It places a new window where an unseeded random number
// says (the same spots in every run, for the same windows in the same order); a window that
// grows later may reach beyond the output.
class Weston {
public:
    static constexpr QRgb kBackground = qRgb(32, 64, 96);
    enum class Input { None, Pointer };

    explicit Weston(int scale = 1, Input input = Input::None);
    ~Weston();
    Weston(const Weston&) = delete;
    Weston& operator=(const Weston&) = delete;

    // Whether the compositor runs and has drawn its background.
    bool running() const { return m_pid > 0; }
    bool hasPointer() const { return m_x != nullptr; }
    // The WAYLAND_DISPLAY value of this compositor.
    QString socket() const { return m_socket; }
    // The whole output in device pixels, as weston-screenshooter captures it; a null image when
    // the capture failed. The screenshooter writes its file into its working directory, so each
    // capture runs in a fresh one.
    // With a pointer, the output's lower right corner, where the pointer waits between clicks,
    // shows the background whatever weston draws of the pointer there.
    QImage screenshot() const;
    // Clicks the left button at a point of the output (device pixels); false when it could not
    // be sent. The pointer first leaves the output and comes back: weston's x11 backend hands a
    // client no pointer event until the pointer has entered the output's window, which it never
    // does when the pointer was already there when the window was created.
    bool click(QPoint at) const;

private:
    bool movePointer(const QStringList& commands) const;

    std::unique_ptr<Xvfb> m_x; // the pointer's server, holding the output's window
    QSize m_outputSize;        // the output's window, in device pixels
    QTemporaryDir m_dir;
    QString m_socket;
    pid_t m_pid = -1;
};
