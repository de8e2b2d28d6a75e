#include "player/mpris/CoverArt.h"

#include "platform/audio/SongPicture.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>
#include <array>

namespace mpris {
namespace {

// A tag this large is no song's: its picture is not read. (The sound's reader seeks over large
// tags unread, so their picture is read here alone.)
constexpr long kMaxPictureTagBytes = 16L << 20;

// Only formats that every desktop shows are kept, named as what their bytes say they are.
QString pictureExtension(const QByteArray& data) {
    if (data.startsWith("\x89PNG\r\n\x1a\n"))
        return QStringLiteral(".png");
    if (data.startsWith("\xff\xd8\xff"))
        return QStringLiteral(".jpg");
    if (data.startsWith("GIF8"))
        return QStringLiteral(".gif");
    return {};
}

// The same picture (one album's songs) is written once, under the digest of its bytes.
QString cachedPicture(const QString& songPath) {
    const std::vector<std::uint8_t> bytes =
        audio::readSongPicture(songPath.toLocal8Bit().toStdString(), kMaxPictureTagBytes);
    const QByteArray data(reinterpret_cast<const char*>(bytes.data()),
                          static_cast<qsizetype>(bytes.size()));
    const QString extension = pictureExtension(data);
    if (extension.isEmpty())
        return {};
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                           QStringLiteral("/quiva/art");
    const QString path =
        folder + QLatin1Char('/') +
        QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex()) +
        extension;
    if (QFileInfo(path).size() == data.size())
        return path;
    QSaveFile file(path);
    const bool written = QDir().mkpath(folder) && file.open(QIODevice::WriteOnly) &&
                         file.write(data) == data.size() && file.commit();
    return written ? path : QString();
}

QString folderPicture(const QString& songPath) {
    static const std::array kNames{QStringLiteral("cover.jpg"), QStringLiteral("cover.png"),
                                   QStringLiteral("folder.jpg")};
    const QDir folder = QFileInfo(songPath).dir();
    const QStringList files = folder.entryList(QDir::Files);
    for (const QString& wanted : kNames)
        for (const QString& name : files)
            if (name.compare(wanted, Qt::CaseInsensitive) == 0)
                return folder.filePath(name);
    return {};
}

} // namespace

QString coverArtUrl(const QString& songPath) {
    QString picture = cachedPicture(songPath);
    if (picture.isEmpty())
        picture = folderPicture(songPath);
    return picture.isEmpty() ? QString()
                             : QString::fromLatin1(QUrl::fromLocalFile(picture).toEncoded());
}

} // namespace mpris
