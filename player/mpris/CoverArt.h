#pragma once

#include <QString>

// The picture the desktop shows beside a song (mpris:artUrl).
namespace mpris {

// The file:// address of the song's cover: the picture its tag carries, written once into
// $XDG_CACHE_HOME/quiva/art/ under a name made from its bytes, else cover.jpg, cover.png or
// folder.jpg beside the song (in any case, in that order); empty when none is found. Reads
// the song's tag and its folder: call it off the UI thread. Any thread.
QString coverArtUrl(const QString& songPath);

} // namespace mpris
