#pragma once

#include <alsa/asoundlib.h>

#include <mutex>

// libasound prints every failed lookup of its configuration to stderr; on a machine without a
// card that is a screenful for each attempt, and every failure is reported to our callers
// anyway. Call before the first ALSA call; the handler is process-wide and set once.
inline void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

inline void silenceAlsaErrors() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&ignoreAlsaError); });
}
