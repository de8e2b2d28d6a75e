#pragma once

#include <mpg123.h>
#include <string>

namespace audio {

// A libmpg123 handle set up as every decode of this program is: quiet, gapless, 16-bit signed
// samples at any MPEG rate, mono or stereo; with `skipLeadingTag`, a leading ID3v2 tag is seeked
// over unread. Null when libmpg123 cannot be set up. The caller deletes it with mpg123_delete.
mpg123_handle* newMpg123Handle(bool skipLeadingTag);

// Opens a song's file for reading: a regular file only, as libmpg123 would read a directory or a
// device, and a FIFO would block the open. -1 for anything else.
int openRegularFile(const std::string& path);

// Size of the ID3v2 tag the open file starts with (header included), or 0.
long leadingTagBytes(int fd);

} // namespace audio
