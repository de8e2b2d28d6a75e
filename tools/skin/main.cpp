// quiva-skin-gen ROOT: draws the skin pictures and icons and writes them below ROOT
// (player/resources/, volume/resources/ and platform/ui/resources/). Exits with 1 if any file
// cannot be written.

#include "tools/skin/Icons.h"
#include "tools/skin/Skins.h"

#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>

#include <cstdio>
#include <functional>

namespace {

struct Output {
    const char* path;
    std::function<QImage()> draw;
};

// Writes through a temporary file, so an interrupted run never leaves half a picture behind.
bool writePng(const QString& path, const QImage& image) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QImageWriter writer(&file, "png");
    return writer.write(image) && file.commit();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_ROOT\n", argv[0]);
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    const Output outputs[] = {
        {"player/resources/skin-bar.png", skin::drawPlayerBar},
        {"player/resources/skin-playlist.png", skin::drawPlaylistPanel},
        {"player/resources/skin-creator.png", skin::drawCreatorPanel},
        {"player/resources/quiva-16.png", skin::drawWindowIcon16},
        {"player/resources/quiva-48.png", skin::drawWindowIcon48},
        {"player/resources/about-icon.png", skin::drawAboutIcon},
        {"volume/resources/dalvex-face.png", skin::drawDalvexFace},
        {"volume/resources/dalvex-toolbox.png", skin::drawDalvexToolbox},
        {"platform/ui/resources/folder-open.png", skin::drawOpenFolderIcon},
        {"platform/ui/resources/folder-closed.png", skin::drawClosedFolderIcon},
    };
    int status = 0;
    for (const Output& output : outputs) {
        const QString path = root.filePath(QString::fromLatin1(output.path));
        if (!writePng(path, output.draw())) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            status = 1;
        }
    }
    return status;
}
