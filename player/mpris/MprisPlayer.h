#pragma once

#include "player/mpris/MprisState.h"

#include <QObject>
#include <atomic>

class frmMain;

// The desktop's media controls as a second way into the main window's own handlers: every
// action runs the handler a click on the skin runs, so the player behaves exactly as if the
// button had been clicked. Reads the engine's real state. Lives on the UI thread, as a child of
// the window it drives, and needs no bus (the bus side is MprisService).
namespace mpris {

class Player : public QObject {
    Q_OBJECT
public:
    explicit Player(frmMain& window);
    ~Player() override;

    // org.mpris.MediaPlayer2
    QString identity() const;
    // Shows, restores (from minimised) and raises the main window.
    void raise();
    // The menu's Exit: stops everything and ends the program.
    void quit();

    // org.mpris.MediaPlayer2.Player
    // While paused: the pause button until the song plays; while stopped or ended: play.
    void play();
    // While a song plays: the pause button until it is paused (twice at most: its word can be
    // one step behind after a pause followed by a double click). Otherwise nothing.
    void pause();
    void playPause();
    void stop();
    void next();
    void previous();
    // Plays a file:// song that is an entry of the playlist, as selecting and double-clicking
    // that entry would. Returns an empty text then, else why it is refused (nothing changes).
    QString openUri(const QString& uri);

    Snapshot snapshot() const;
    qlonglong positionUs() const;
    // Moves the slider to volume * 100 (clamped to 0..100), which sets the volume control as
    // a user's scroll does.
    void setVolume(double volume);

signals:
    // PlaybackStatus, Metadata or Volume took the new values that `changed` holds.
    void propertiesChanged(const QVariantMap& changed);

private:
    audio::StreamMode mode() const;
    void clickUntil(void (frmMain::*handler)(), audio::StreamMode wanted);
    int listedRow(const QString& path) const;
    void scheduleRefresh();
    void refresh();

    frmMain& m_window;
    Snapshot m_announced;
    std::atomic<bool> m_refreshDue{false};
};

} // namespace mpris
