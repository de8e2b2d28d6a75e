#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <QTemporaryDir>
#include <sys/types.h>

// A private X server for end-to-end tests: Xvfb on a display number it finds free, 24 bits deep
// (1024x768 unless a test needs room for a larger window), no TCP. Stopped by its PID when the
// object goes away.
class Xvfb {
public:
    explicit Xvfb(QSize screen = QSize(1024, 768));
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    bool running() const { return m_pid > 0; }
    // The DISPLAY value of this server, such as ":7".
    QString display() const { return QStringLiteral(":%1").arg(m_number); }
    // The whole screen as it shows now; a null image when it cannot be read.
    QImage screen() const;

private:
    // Where Xvfb keeps its screen, in XWD form: in memory, since with the file on a disk the
    // server was slow enough for a test to miss a popup menu.
    QTemporaryDir m_frameBufferDir{QStringLiteral("/dev/shm/quiva-xvfb-XXXXXX")};
    int m_number = -1;
    pid_t m_pid = -1;
};

// A small window manager (openbox) on a test's X server, so that windows get focus, placement
// and activation as on a desktop. Started on construction; stopped by its PID when it goes away.
class WindowManager {
public:
    explicit WindowManager(const QString& display);
    ~WindowManager();
    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;

    bool running() const { return m_pid > 0; }

private:
    bool managing() const;

    QString m_display;
    pid_t m_pid = -1;
};

// Runs a command line with DISPLAY set to the given display; returns its standard output
// (trimmed), or an empty string when it failed.
QString runOnDisplay(const QString& display, const QString& program, const QStringList& args);
