#pragma once

// The text of a private profile file, read and edited in memory: the reading and writing rules of
// PrivateProfile.h without any file. Views returned point into the text given.

#include <optional>
#include <string>
#include <string_view>

namespace profile {

// The value of `key` in the first section named `section`, quotes removed; nullopt when the
// section or the key is missing.
std::optional<std::string_view> findValue(std::string_view text, std::string_view section,
                                          std::string_view key);

// `text` with `key` in `section` set to `value`, or its first line removed for a null value, every
// other line kept byte for byte; nullopt when that changes nothing.
std::optional<std::string> withValue(std::string_view text, std::string_view section,
                                     std::string_view key, const char* value);

// Whether the request can be stored faithfully: no line break anywhere, a key that is not empty
// and holds no '=' and starts with neither ';' nor '[', a section without ']'.
bool isStorable(std::string_view section, std::string_view key, const char* value);

} // namespace profile
