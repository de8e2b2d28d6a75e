#include "player/mpris/MprisState.h"

#include "player/SongPath.h"

#include <QCryptographicHash>
#include <QDBusObjectPath>
#include <QStringList>
#include <QUrl>

namespace mpris {
namespace {

constexpr qlonglong kUsPerSecond = 1000000;

QString localPath(const audio::StreamInfo& stream) {
    return QString::fromLocal8Bit(stream.path);
}

// Object path elements allow only [A-Za-z0-9_]: a digest of the path stands for the file.
QDBusObjectPath trackId(const QString& path) {
    const QByteArray digest =
        QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QDBusObjectPath(QStringLiteral("/org/quiva/track/t") + QString::fromLatin1(digest));
}

qlonglong framesToUs(long long frames, int rateHz) {
    return rateHz > 0 ? frames * kUsPerSecond / rateHz : 0;
}

// A step that selects an entry plays it; one that selects none (before the first entry) plays
// the empty entry's path, which names no song; one refused plays the chosen song again.
bool stepPlays(const Playlist& playlist, int delta) {
    const int row = playlist.listIndex + delta;
    if (row >= 0 && row < playlist.listCount)
        return true;
    return row != -1 && playlist.songChosen;
}

} // namespace

QString playbackStatus(const std::optional<audio::StreamInfo>& stream) {
    switch (stream ? stream->mode : audio::StreamMode::Stopped) {
    case audio::StreamMode::Playing:
        return QStringLiteral("Playing");
    case audio::StreamMode::Paused:
        return QStringLiteral("Paused");
    case audio::StreamMode::Stopped:
        break;
    }
    return QStringLiteral("Stopped");
}

QVariantMap metadata(const std::optional<audio::StreamInfo>& stream, const QString& artUrl) {
    if (!stream)
        return {};
    const QString path = localPath(*stream);
    const std::string& title = stream->song.title;
    QVariantMap map{
        {QStringLiteral("mpris:trackid"), QVariant::fromValue(trackId(path))},
        {QStringLiteral("xesam:title"),
         title.empty() ? listEntryOf(path) : QString::fromStdString(title)},
        {QStringLiteral("xesam:url"), QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded())},
    };
    if (stream->song.lengthFrames > 0)
        map.insert(QStringLiteral("mpris:length"),
                   framesToUs(stream->song.lengthFrames, stream->rateHz));
    if (!stream->song.artist.empty())
        map.insert(QStringLiteral("xesam:artist"),
                   QStringList{QString::fromStdString(stream->song.artist)});
    if (!stream->song.album.empty())
        map.insert(QStringLiteral("xesam:album"), QString::fromStdString(stream->song.album));
    if (!artUrl.isEmpty())
        map.insert(QStringLiteral("mpris:artUrl"), artUrl);
    return map;
}

qlonglong positionUs(const std::optional<audio::StreamInfo>& stream) {
    return stream ? framesToUs(stream->heardFrames, stream->rateHz) : 0;
}

Capabilities Capabilities::of(const std::optional<audio::StreamInfo>& stream,
                              const Playlist& playlist) {
    const bool sounding = stream && stream->mode != audio::StreamMode::Stopped;
    return {stream || playlist.songChosen, sounding, stepPlays(playlist, +1),
            stepPlays(playlist, -1)};
}

Snapshot Snapshot::of(const std::optional<audio::StreamInfo>& stream, int volume,
                      const Playlist& playlist, const QString& artUrl) {
    return {mpris::playbackStatus(stream), mpris::metadata(stream, artUrl), volume / 100.0,
            Capabilities::of(stream, playlist)};
}

QVariantMap changedProperties(const Snapshot& before, const Snapshot& after) {
    QVariantMap changed;
    if (after.playbackStatus != before.playbackStatus)
        changed.insert(QStringLiteral("PlaybackStatus"), after.playbackStatus);
    if (after.metadata != before.metadata)
        changed.insert(QStringLiteral("Metadata"), after.metadata);
    if (after.volume != before.volume)
        changed.insert(QStringLiteral("Volume"), after.volume);
    const auto announce = [&](const char* name, bool Capabilities::*can) {
        if (after.can.*can != before.can.*can)
            changed.insert(QLatin1StringView(name), after.can.*can);
    };
    announce("CanPlay", &Capabilities::play);
    announce("CanPause", &Capabilities::pause);
    announce("CanGoNext", &Capabilities::next);
    announce("CanGoPrevious", &Capabilities::previous);
    return changed;
}

} // namespace mpris
