// quiva-skin-gen ROOT: draws the skin pictures and icons (the skin pictures and folders at
// scales 1 and 2, as NAME.png and NAME@2x.png; the window icon at the desktop's sizes) and writes
// them below ROOT (player/resources/, volume/resources/ and platform/ui/resources/). Exits with 1
// if any file cannot be written.

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
    const auto at = [](QImage (*draw)(int), int value) { return [=] { return draw(value); }; };
    const Output outputs[] = {
        {"player/resources/skin-bar.png", at(skin::drawPlayerBar, 1)},
        {"player/resources/skin-bar@2x.png", at(skin::drawPlayerBar, 2)},
        {"player/resources/skin-playlist.png", at(skin::drawPlaylistPanel, 1)},
        {"player/resources/skin-playlist@2x.png", at(skin::drawPlaylistPanel, 2)},
        {"player/resources/skin-creator.png", at(skin::drawCreatorPanel, 1)},
        {"player/resources/skin-creator@2x.png", at(skin::drawCreatorPanel, 2)},
        {"player/resources/quiva-16.png", skin::drawWindowIcon16},
        {"player/resources/quiva-24.png", at(skin::drawWindowIcon, 24)},
        {"player/resources/quiva-32.png", at(skin::drawWindowIcon, 32)},
        {"player/resources/quiva-48.png", at(skin::drawWindowIcon, 48)},
        {"player/resources/quiva-64.png", at(skin::drawWindowIcon, 64)},
        {"player/resources/quiva-128.png", at(skin::drawWindowIcon, 128)},
        {"player/resources/quiva-256.png", at(skin::drawWindowIcon, 256)},
        {"player/resources/about-icon.png", at(skin::drawAboutIcon, 1)},
        {"player/resources/about-icon@2x.png", at(skin::drawAboutIcon, 2)},
        {"volume/resources/dalvex-face.png", skin::drawDalvexFace},
        {"volume/resources/dalvex-toolbox.png", skin::drawDalvexToolbox},
        {"platform/ui/resources/folder-open.png", at(skin::drawOpenFolderIcon, 1)},
        {"platform/ui/resources/folder-open@2x.png", at(skin::drawOpenFolderIcon, 2)},
        {"platform/ui/resources/folder-closed.png", at(skin::drawClosedFolderIcon, 1)},
        {"platform/ui/resources/folder-closed@2x.png", at(skin::drawClosedFolderIcon, 2)},
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
