#pragma once

#include <cstdlib>
#include <string>

// Paths of the tone MP3s made by tools/make-test-mp3s.sh at build time, such as
// testSong("tone440-stereo-44k").
inline std::string testSong(const std::string& name) {
    const char* build = std::getenv("QUIVA_BUILD_DIR");
    return std::string(build ? build : ".") + "/test-mp3s/" + name + ".mp3";
}
