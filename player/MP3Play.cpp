#include "player/MP3Play.h"

#include "platform/mci/Mci.h"

#include <string>

namespace MP3Play {
namespace {

constexpr DWORD kShortPathChars = 255;

void send(const std::string& command) {
    mciSendStringA(command.c_str(), nullptr, 0, nullptr);
}

} // namespace

void PlaySong(const QString& path) {
    send("stop mp3play");
    send("close mp3play");
    char shortPath[kShortPathChars] = {};
    const DWORD length =
        GetShortPathNameA(path.toLocal8Bit().constData(), shortPath, kShortPathChars);
    // A form too long for the buffer comes back as its needed size: then no path is named.
    const std::string name = length < kShortPathChars ? std::string(shortPath, length) : "";
    send("open " + name + " type mpegvideo alias mp3play");
    send("play mp3play");
}

void PauseSong() {
    send("pause mp3play");
}

void ResumeSong() {
    send("resume mp3play");
}

void StopAll() {
    send("stop mp3play");
    send("close all");
}

} // namespace MP3Play
