#pragma once

#include "platform/audio/Engine.h"
#include "player/mpris/MprisNames.h"

#include <QString>
#include <QVariantMap>
#include <optional>

// What the desktop's media controls (MPRIS 2) see of the player, worked out from the engine and
// the window without any bus, so that it can be checked on its own.
namespace mpris {

// "Playing", "Paused" or "Stopped" for the stream the engine holds; no stream is "Stopped",
// and so is a song that played to its end.
QString playbackStatus(const std::optional<audio::StreamInfo>& stream);

// The song's metadata: mpris:trackid (an object path that stays the same for the same file),
// xesam:title (the tag's title, else the playlist entry's text, as the list shows the file),
// xesam:url, and where known mpris:length (microseconds), xesam:artist and xesam:album from the
// file's tags and mpris:artUrl (`artUrl`, when not empty). Empty without a stream.
QVariantMap metadata(const std::optional<audio::StreamInfo>& stream, const QString& artUrl = {});

// Microseconds played of the stream; 0 without one.
qlonglong positionUs(const std::optional<audio::StreamInfo>& stream);

// What of the window's playlist decides what the transport's buttons would do.
struct Playlist {
    int listIndex = -1;
    int listCount = 0;
    bool songChosen = false; // the song that play would play (the last one clicked) exists
};

// Whether Play, Pause, Next and Previous would play or pause a song now, as the buttons'
// handlers go: play plays the chosen song or resumes; next and previous select the entry beside
// the selected one and play it (none beside: the chosen song again; selecting none before the
// first entry: nothing); pause needs a song that plays or is paused.
struct Capabilities {
    bool play = false;
    bool pause = false;
    bool next = false;
    bool previous = false;

    bool operator==(const Capabilities&) const = default;
    static Capabilities of(const std::optional<audio::StreamInfo>& stream,
                           const Playlist& playlist);
};

// The player's properties that change, by their MPRIS names.
struct Snapshot {
    QString playbackStatus;
    QVariantMap metadata;
    double volume = 0; // 0..1, the volume control's Volume / 100
    Capabilities can;

    static Snapshot of(const std::optional<audio::StreamInfo>& stream, int volume,
                       const Playlist& playlist = {}, const QString& artUrl = {});
};

// The properties whose values differ between two snapshots, with their new values: the body of
// a PropertiesChanged signal. Empty when nothing changed.
QVariantMap changedProperties(const Snapshot& before, const Snapshot& after);

} // namespace mpris
