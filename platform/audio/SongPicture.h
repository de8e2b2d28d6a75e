#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace audio {

// Reads the bytes of the picture (an APIC frame, as stored) of the ID3v2 tag that the regular file
// `path` starts with (the front cover, else the first), without decoding any sound; empty when
// there is none, when the file cannot be read, or when the tag is larger than `maxTagBytes` (it is
// then not read at all). Reads the whole tag into memory: call it off the UI thread. Any thread; no
// shared state.
std::vector<std::uint8_t> readSongPicture(const std::string& path, long maxTagBytes);

} // namespace audio
