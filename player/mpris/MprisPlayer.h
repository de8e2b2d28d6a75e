#pragma once

#include "platform/com/Interfaces.h"
#include "player/mpris/MprisState.h"

#include <QDBusError>
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
    // Plays a file:// song (of this host) that an entry of the playlist plays, as selecting and
    // double-clicking that entry would. Returns no error (not valid) when it then plays; a
    // NotSupported one when it is refused (nothing changes), a Failed one when it cannot be
    // played (the entry is selected and the song that played is closed, as with a click).
    QDBusError openUri(const QString& uri);

    Snapshot snapshot() const;
    qlonglong positionUs() const;
    // Moves the slider to volume * 100 (clamped to 0..100) and sets the volume control as a
    // user's scroll does, even when the slider shows that value already.
    void setVolume(double volume);

signals:
    // Properties of the snapshot took the new values that `changed` holds.
    void propertiesChanged(const QVariantMap& changed);
    // The song went on from another place than playing on leads to: it started again.
    void seeked(qlonglong positionUs);

private:
    audio::StreamMode mode() const;
    void clickUntil(void (frmMain::*handler)(), audio::StreamMode wanted);
    int listedRow(const QString& file) const;
    Playlist playlist() const;
    int volume() const;
    void listenToVolumeControl();
    QString artUrlOf(const std::optional<audio::StreamInfo>& stream) const;
    void findArt(const QString& songPath);
    void noteEngineChange();
    void scheduleRefresh();
    void refresh();

    frmMain& m_window;
    Snapshot m_announced;
    std::atomic<bool> m_refreshDue{false};
    // Frames played at the engine's last change (-1: no stream), and whether they went back
    // since the last refresh. Written on the engine thread.
    std::atomic<long long> m_framesAtChange{-1};
    std::atomic<bool> m_wentBack{false};
    QString m_artSongPath; // the song whose cover is sought or found
    QString m_artUrl;
    // The window's volume control, whose changes from the mixer are heard here, never by the
    // window. Held, so that the connection can be undone whichever of the two goes first.
    com::ComPtr<IDispatch> m_volumeControl;
    DWORD m_volumeEvents = 0; // the connection's cookie
};

} // namespace mpris
