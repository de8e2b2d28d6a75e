#pragma once

// The media control interface: playback commands as text, and the short form of a path that
// keeps spaces out of those commands. The calls keep the shapes of the classic API, so that
// callers written against it read the same here.
//
// Commands (verbs and keywords matched without regard to case; words separated by spaces):
//   open <element> type mpegvideo alias <name>   opens an MP3 file as device <name>
//   play <name> | pause <name> | resume <name> | stop <name> | close <name>
//   close all                                    closes every device of the process
// <element> is a short form that GetShortPathNameA gave out, or a path in which %XX stands for
// the byte XX.
// play returns at once while the song plays on; a song that ends stays open at its end.
// No call waits long for the player: an open whose file does not answer within two seconds (a
// hung share), or a command that the media layer does not take up within three (an output that
// hangs), fails with MCIERR_DEVICE_NOT_READY and is withdrawn; until the media layer answers
// again, further commands fail so at once.
//
// Thread rule: any thread; calls are carried out one at a time, in the order they arrive.
// Results: 0 on success, otherwise one of the error numbers below, and then nothing changed.

#include "platform/BasicTypes.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

inline constexpr std::uint32_t MCIERR_UNRECOGNIZED_KEYWORD = 259;   // a word out of place
inline constexpr std::uint32_t MCIERR_UNRECOGNIZED_COMMAND = 261;   // unknown verb
inline constexpr std::uint32_t MCIERR_INVALID_DEVICE_NAME = 263;    // no device by that alias
inline constexpr std::uint32_t MCIERR_CANNOT_LOAD_DRIVER = 266;     // a device type not handled
inline constexpr std::uint32_t MCIERR_MISSING_COMMAND_STRING = 267; // empty command
inline constexpr std::uint32_t MCIERR_MISSING_PARAMETER = 273;      // element or alias missing
inline constexpr std::uint32_t MCIERR_FILE_NOT_FOUND = 275;         // missing or unreadable file
inline constexpr std::uint32_t MCIERR_DEVICE_NOT_READY = 276;       // no answer in time
inline constexpr std::uint32_t MCIERR_DUPLICATE_ALIAS = 289;        // alias already open
inline constexpr std::uint32_t MCIERR_INVALID_FILE = 296;           // a file that is not MP3

// Every error number a command may return.
inline constexpr std::uint32_t kMciErrors[] = {
    MCIERR_UNRECOGNIZED_KEYWORD, MCIERR_UNRECOGNIZED_COMMAND,   MCIERR_INVALID_DEVICE_NAME,
    MCIERR_CANNOT_LOAD_DRIVER,   MCIERR_MISSING_COMMAND_STRING, MCIERR_MISSING_PARAMETER,
    MCIERR_FILE_NOT_FOUND,       MCIERR_DEVICE_NOT_READY,       MCIERR_DUPLICATE_ALIAS,
    MCIERR_INVALID_FILE,
};

// Carries out one command. `returnString` (if not null and `returnLength` > 0) receives an
// empty text: no command here answers with text. `callback` is not used (no notification).
std::uint32_t mciSendStringA(const char* command, char* returnString, unsigned returnLength,
                             void* callback);

// Writes into `shortPath` the short form of the existing file or folder `longPath`, and returns
// its length. The form is "~" and a number: at most 20 characters, no space, and the open command
// takes it back to that path for as long as the process lives (a path keeps its form). Any path
// that fits PATH_MAX has one, whatever its bytes.
// The path is looked up without regard to case, as the classic platform does: an element that
// names nothing as spelled stands for the name in its folder that matches it without regard to
// case (Unicode case folding; names taken as text as listing::fileNameText shows them, so a name
// that is not UTF-8 is also found by its Latin-1 text); where several match, the one spelled
// exactly as asked for the most leading characters, then the least in byte order. A relative
// path is taken from the current directory now.
// Returns 0 (buffer untouched) for an empty path, one that names nothing, and one whose absolute
// form does not fit PATH_MAX. When the form does not fit (length + 1 > size), returns the size it
// needs, and the buffer holds an empty text.
DWORD GetShortPathNameA(const char* longPath, char* shortPath, DWORD size);

namespace mci {

// The file that GetShortPathNameA's form of `longPath` stands for: the absolute path it finds
// (without regard to case), or empty where it would give no form.
std::string pathOpenedFor(const char* longPath);

// Test seam at the mciSendStringA boundary: while set, every command is first shown to the
// recorder. Returning a number makes that the call's result without carrying the command out;
// returning nullopt lets the command run as usual. Pass an empty function to remove it.
using CommandRecorder = std::function<std::optional<std::uint32_t>(std::string_view command)>;
void setCommandRecorder(CommandRecorder recorder);

} // namespace mci
