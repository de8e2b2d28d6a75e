#include "platform/ui/Png.h"

#include <QImageReader>
#include <QPixmap>

namespace png {

QImage read(const QString& file) {
    QImageReader reader(file, "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

QIcon icon(const QStringList& files) {
    QIcon icon;
    for (const QString& file : files)
        if (const QImage picture = read(file); !picture.isNull())
            icon.addPixmap(QPixmap::fromImage(picture));
    return icon;
}

} // namespace png
