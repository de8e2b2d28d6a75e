#pragma once

#include "platform/audio/Engine.h"
#include "player/mpris/MprisNames.h"

#include <QString>
#include <QVariantMap>
#include <optional>

// What the desktop's media controls (MPRIS 2) see of the player, worked out from the engine and
// the window without any bus, so that it can be checked on its own.
namespace mpris {

// The extension the playlist takes off its entries and puts back to play them.
inline constexpr char kSongExtension[] = ".mp3";

// The playlist entry's text for a song's path: its file name, without ".mp3" (in any case).
QString listEntryOf(const QString& path);

// "Playing", "Paused" or "Stopped" for the stream the engine holds; no stream is "Stopped",
// and so is a song that played to its end.
QString playbackStatus(const std::optional<audio::StreamInfo>& stream);

// The song's metadata: mpris:trackid (an object path that stays the same for the same file),
// xesam:title (the playlist entry's text, as the list shows the file), xesam:url, and where
// known mpris:length (microseconds) and xesam:artist, xesam:album from the file's tags.
// Empty without a stream.
QVariantMap metadata(const std::optional<audio::StreamInfo>& stream);

// Microseconds played of the stream; 0 without one.
qlonglong positionUs(const std::optional<audio::StreamInfo>& stream);

// The player's properties that change, by their MPRIS names.
struct Snapshot {
    QString playbackStatus;
    QVariantMap metadata;
    double volume = 0; // 0..1, the slider's value / 100

    static Snapshot of(const std::optional<audio::StreamInfo>& stream, int sliderValue);
};

// The properties whose values differ between two snapshots, with their new values: the body of
// a PropertiesChanged signal. Empty when nothing changed.
QVariantMap changedProperties(const Snapshot& before, const Snapshot& after);

} // namespace mpris
