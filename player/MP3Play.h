#pragma once

#include <QString>

// The player's only bridge to the media control interface: one device, alias "mp3play".
// Every command's result is ignored; each call returns at once while a song plays on.
// User-interface thread.
namespace MP3Play {

// Stops and closes whatever is open, then opens the file by its short path and plays it.
// A path that names no playable file plays nothing.
void PlaySong(const QString& path);
void PauseSong();
void ResumeSong();
// Stops the song and closes every device of the process.
void StopAll();

} // namespace MP3Play
