#pragma once

#include <mpg123.h>

namespace audio {

// A libmpg123 handle set up as every decode of this program is: quiet, gapless, 16-bit signed
// samples at any MPEG rate, mono or stereo; with `skipLeadingTag`, a leading ID3v2 tag is seeked
// over unread. Null when libmpg123 cannot be set up. The caller deletes it with mpg123_delete.
mpg123_handle* newMpg123Handle(bool skipLeadingTag);

} // namespace audio
