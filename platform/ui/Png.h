#pragma once

#include <QIcon>
#include <QImage>
#include <QStringList>

// Our own pictures, all PNG, read by the PNG decoder straight away. Format detection (what
// QImageReader does by default, and what QIcon::addFile does for every file) would first load
// every image plug-in there is and ask each, leaving their libraries in the player's memory.
// A file that cannot be read gives a null image, and adds nothing to an icon.
namespace png {

// Any thread.
QImage read(const QString& file);

// An icon of `files`, each at its own size, all read now (as QIcon::addFile reads them too).
// UI thread: it makes pixmaps.
QIcon icon(const QStringList& files);

} // namespace png
