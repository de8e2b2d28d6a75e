#include "platform/profile/PrivateProfile.h"

#include "platform/profile/FileReplace.h"
#include "platform/profile/ProfileText.h"

#include <algorithm>

namespace {

DWORD copyTruncated(std::string_view text, char* buffer, DWORD size) {
    std::size_t count = std::min<std::size_t>(text.size(), size - 1);
    // Cut before a UTF-8 sequence that does not fit whole (at most three continuation bytes).
    for (int back = 0; count < text.size() && count > 0 && back < 3 &&
                       (static_cast<unsigned char>(text[count]) & 0xC0) == 0x80;
         ++back)
        --count;
    std::copy_n(text.data(), count, buffer);
    buffer[count] = '\0';
    return DWORD(count);
}

} // namespace

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* buffer, DWORD size, const char* fileName) {
    if (!buffer || size == 0)
        return 0;
    const std::string_view fallback = defaultValue ? defaultValue : "";
    if (!section || !key || !fileName)
        return copyTruncated(fallback, buffer, size);
    const std::optional<std::string> text = profile::readWhole(fileName);
    const std::optional<std::string_view> value =
        text ? profile::findValue(*text, section, key) : std::nullopt;
    return copyTruncated(value.value_or(fallback), buffer, size);
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName) {
    if (!section || !key || !fileName || *fileName == '\0' ||
        !profile::isStorable(section, key, value))
        return false;
    return profile::replaceWhole(fileName, [&](std::string_view old) {
        return profile::withValue(old, section, key, value);
    });
}
