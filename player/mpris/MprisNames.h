#pragma once

// The names the desktop finds the player's media controls by.
namespace mpris {

// The bus name, the one object and the installed desktop entry (share/applications/quiva.desktop)
// that the desktop matches the player with.
inline constexpr char kServiceName[] = "org.mpris.MediaPlayer2.quiva";
inline constexpr char kObjectPath[] = "/org/mpris/MediaPlayer2";
inline constexpr char kDesktopEntry[] = "quiva";

} // namespace mpris
