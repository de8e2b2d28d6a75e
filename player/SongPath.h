#pragma once

#include <QString>

// How the playlist names its songs: the folder's files whose names end in the song extension
// (in any case) are listed without it, and an entry plays the file its folder and text name
// with the extension put back, found there as the media layer finds files, without regard to
// case. The window and the desktop's media controls both go by these.

// The extension the playlist takes off its entries and puts back to play them.
inline constexpr char kSongExtension[] = ".mp3";

// The listing pattern of the playlist's songs: "*" and the extension.
QString songPattern();

// The path the window plays for `entry` of the playlist folder `dirPath` (with its own '/').
QString songPath(const QString& dirPath, const QString& entry);

// The entry's text for a song's path: its file name, without the extension (in any case).
QString listEntryOf(const QString& path);

// The file that playing `path` opens, found as the media layer finds it; empty when none.
QString fileOpenedFor(const QString& path);
