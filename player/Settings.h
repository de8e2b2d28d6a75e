#pragma once

#include <QString>

// What the player keeps in its settings file (IniFile.h says where that is), and the window
// heights it stores there.
namespace settings {

inline const QString kFileName = QStringLiteral("quiva.ini");
inline const QString kSection = QStringLiteral("quiva");
inline const QString kDirKey = QStringLiteral("dir");       // the folder added last
inline const QString kHeightKey = QStringLiteral("height"); // the window height, in twips

// Window heights in twips: the bar with the playlist panel below it, and the tallest the window
// takes (a stored height above it is not applied).
constexpr int kPlaylistHeight = 5580;
constexpr int kMaxHeight = 8160;

} // namespace settings
