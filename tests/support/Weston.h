#pragma once

#include <QImage>
#include <QString>
#include <QTemporaryDir>
#include <sys/types.h>

// A private Wayland compositor for end-to-end tests: weston's headless backend with the pixman
// renderer on a socket of its own in $XDG_RUNTIME_DIR, one 1024x768 output at the given scale,
// a plain background (kBackground) and no panel. It runs with --debug, without which weston
// refuses weston-screenshooter. Stopped by its PID when the object goes away.
//
// A headless weston has no input devices: nothing can click, type or drag on it. It places a
// new window where an unseeded random number says (the same spots in every run, for the same
// windows in the same order); a window that grows later may reach beyond the output.
class Weston {
public:
    static constexpr QRgb kBackground = qRgb(32, 64, 96);

    explicit Weston(int scale = 1);
    ~Weston();
    Weston(const Weston&) = delete;
    Weston& operator=(const Weston&) = delete;

    // Whether the compositor runs and has drawn its background.
    bool running() const { return m_pid > 0; }
    // The WAYLAND_DISPLAY value of this compositor.
    QString socket() const { return m_socket; }
    // The whole output in device pixels, as weston-screenshooter captures it; a null image when
    // the capture failed. The screenshooter writes its file into its working directory, so each
    // capture runs in a fresh one.
    QImage screenshot() const;

private:
    QTemporaryDir m_dir;
    QString m_socket;
    pid_t m_pid = -1;
};
