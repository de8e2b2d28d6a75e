#include "platform/mci/ShortPath.h"
#include "platform/mci/Mci.h"

#include <cstring>
#include <sys/stat.h>

namespace mci::detail {
namespace {

bool needsEscape(unsigned char byte) {
    return byte <= 0x20 || byte == 0x7f || byte == '"' || byte == '%';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string escapePath(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (needsEscape(byte)) {
            escaped += '%';
            escaped += kHex[byte >> 4];
            escaped += kHex[byte & 15];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string unescapePath(std::string_view element) {
    std::string path;
    for (std::size_t i = 0; i < element.size(); ++i) {
        const bool escape = element[i] == '%' && i + 2 < element.size() &&
                            hexValue(element[i + 1]) >= 0 && hexValue(element[i + 2]) >= 0;
        if (escape) {
            path += static_cast<char>(hexValue(element[i + 1]) * 16 + hexValue(element[i + 2]));
            i += 2;
        } else {
            path += element[i];
        }
    }
    return path;
}

} // namespace mci::detail

DWORD GetShortPathNameA(const char* longPath, char* shortPath, DWORD size) {
    struct stat info {};
    if (!longPath || !*longPath || stat(longPath, &info) != 0)
        return 0;
    const std::string form = mci::detail::escapePath(longPath);
    if (form.size() + 1 > size) {
        if (shortPath && size > 0)
            shortPath[0] = '\0';
        return static_cast<DWORD>(form.size() + 1);
    }
    std::memcpy(shortPath, form.c_str(), form.size() + 1);
    return static_cast<DWORD>(form.size());
}
