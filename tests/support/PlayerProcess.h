#pragma once

#include "player/Layout.h"
#include "player/Settings.h"
#include "tests/support/TempTree.h"
#include "tests/support/Xvfb.h"

#include <QByteArray>
#include <QProcess>
#include <QRect>
#include <QString>

// Where the build under test put its programs, libraries and test songs.
inline QString buildDir() {
    return qEnvironmentVariable("QUIVA_BUILD_DIR");
}
// The volume control library built there.
inline QString builtVolumeControl() {
    return buildDir() + "/lib/libDalvex.so";
}
// Registers the volume control library `library` for the player, as the package's installer
// does; whether that succeeded.
bool registerVolumeControl(const QString& library = builtVolumeControl());

// The main window's heights in pixels: the bar alone, and with the playlist panel.
inline const int kBarHeightPx = layout::pixels(layout::Image1).height();
inline const int kPanelHeightPx = twips::toPixels(settings::kPlaylistHeight);

// A settings file as the player writes it: the playlist's folder `dir` (none when empty) and the
// window's height in twips, by default the playlist's.
QByteArray settingsText(const QString& dir = {}, int height = settings::kPlaylistHeight);

// The real quiva binary, copied into a temporary program directory (so that its settings file
// lands there) and run on a private X server under a window manager, as on a desktop. Stopped by
// its PID when the object goes away.
class PlayerProcess {
public:
    explicit PlayerProcess(TempTree& tree);
    ~PlayerProcess();

    QString programDir() const { return m_programDir; }
    QString settingsFile() const { return m_programDir + "/" + settings::kFileName; }
    // Sends the player's standard error to `path` instead of the test's own (call before start).
    void setErrorFile(const QString& path) { m_errorFile = path; }
    // Writes `settings` as the player's settings file, starts the player and waits for its main
    // window: its X id once mapped, empty if it never showed. The clicks below go to this window.
    QString start(const QByteArray& settings);
    // Whether the player still runs: a crash or an early exit shows here at once.
    bool alive();
    // The top-level window that holds the given one: the window manager's frame around it, the
    // window itself when unmanaged. In xdotool's decimal form, as the pointer location gives it.
    QString topLevel(const QString& windowId) const;
    // The window's geometry as the X server has it.
    QRect geometry(const QString& windowId) const;
    bool waitForExit(int milliseconds);
    int exitCode() const { return m_process.exitCode(); }
    qint64 processId() const { return m_process.processId(); }
    // Runs xdotool with the given arguments on the private display.
    QString xdotool(const QStringList& args) const;
    // Clicks `button` (1 the left, 3 the right) `repeat` times at a point of the main window, in
    // its own pixels.
    void clickAt(int x, int y, int repeat = 1, int button = 1) const;
    void clickAt(QPoint point, int repeat = 1, int button = 1) const {
        clickAt(point.x(), point.y(), repeat, button);
    }
    // Clicks the middle of a click area or control of the main window.
    void clickAt(const layout::Area& area, int repeat = 1, int button = 1) const {
        clickAt(layout::centre(area), repeat, button);
    }
    // The height of a playlist entry in pixels, as the player's list box lays it out in the
    // playlist's font on this machine (needs a QApplication).
    static int entryHeight();
    // The middle of the playlist's entry in `row` (0 the first), in window pixels.
    static QPoint entryPoint(int row) {
        const QRect list = layout::pixels(layout::lstPls);
        return {list.center().x(), list.top() + entryHeight() * row + entryHeight() / 2};
    }
    static int entryY(int row) { return entryPoint(row).y(); }
    // A point on the volume slider's thumb while the volume is 100: at the slider's right end,
    // so that a click there focuses it and leaves the value as it was.
    static QPoint volumeThumbAtFull() {
        const QRect slider = layout::pixels(layout::SliderVol);
        return {slider.right() - 2, slider.center().y()};
    }
    // Double-clicks the playlist's entry in `row` (0 the first) while the playlist shows.
    void doubleClickEntry(int row) const;
    // Clicks the round button and waits until its popup menu shows, so that the keys typed
    // next reach the menu and not the bar; whether it showed.
    bool openMenu() const;

    Xvfb& x() { return m_x; }

private:
    QString waitForWindow();
    Xvfb m_x;
    WindowManager m_windowManager{m_x.display()};
    QString m_programDir;
    QString m_errorFile;
    QString m_windowId;
    QProcess m_process;
};
