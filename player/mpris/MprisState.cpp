#include "player/mpris/MprisState.h"

#include <QCryptographicHash>
#include <QDBusObjectPath>
#include <QFileInfo>
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

} // namespace

// The list drops the extension from every file name that ends in it, whatever its case.
QString listEntryOf(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const QLatin1StringView extension(kSongExtension);
    return name.endsWith(extension, Qt::CaseInsensitive) ? name.chopped(extension.size()) : name;
}

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

QVariantMap metadata(const std::optional<audio::StreamInfo>& stream) {
    if (!stream)
        return {};
    const QString path = localPath(*stream);
    QVariantMap map{
        {QStringLiteral("mpris:trackid"), QVariant::fromValue(trackId(path))},
        {QStringLiteral("xesam:title"), listEntryOf(path)},
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
    return map;
}

qlonglong positionUs(const std::optional<audio::StreamInfo>& stream) {
    return stream ? framesToUs(stream->playedFrames, stream->rateHz) : 0;
}

Snapshot Snapshot::of(const std::optional<audio::StreamInfo>& stream, int sliderValue) {
    return {mpris::playbackStatus(stream), mpris::metadata(stream), sliderValue / 100.0};
}

QVariantMap changedProperties(const Snapshot& before, const Snapshot& after) {
    QVariantMap changed;
    if (after.playbackStatus != before.playbackStatus)
        changed.insert(QStringLiteral("PlaybackStatus"), after.playbackStatus);
    if (after.metadata != before.metadata)
        changed.insert(QStringLiteral("Metadata"), after.metadata);
    if (after.volume != before.volume)
        changed.insert(QStringLiteral("Volume"), after.volume);
    return changed;
}

} // namespace mpris
