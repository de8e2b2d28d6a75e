#include "player/SongPath.h"

#include "platform/mci/Mci.h"

#include <QFileInfo>

QString songPattern() {
    return QLatin1Char('*') + QLatin1StringView(kSongExtension);
}

QString songPath(const QString& dirPath, const QString& entry) {
    return dirPath + entry + QLatin1StringView(kSongExtension);
}

QString listEntryOf(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const QLatin1StringView extension(kSongExtension);
    return name.endsWith(extension, Qt::CaseInsensitive) ? name.chopped(extension.size()) : name;
}

QString fileOpenedFor(const QString& path) {
    return QString::fromLocal8Bit(mci::pathOpenedFor(path.toLocal8Bit().constData()));
}
