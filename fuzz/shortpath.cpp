// The short path form on arbitrary byte names.
//
// Invariants: the escaped form of any bytes holds no byte that splits or confuses a command
// (controls, space, '"', DEL), every '%' in it starts a %XX, and unescaping gives the bytes back.
// A file made under the input as its name (when it can be one) gets from GetShortPathNameA a form
// that unescapes to its path, with the length contract kept for buffers too small and exact.

#include "platform/mci/ShortPath.h"
#include "fuzz/FuzzSupport.h"
#include "platform/mci/Mci.h"

#include <cctype>
#include <cstring>
#include <fstream>

namespace {

bool isHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool isCommandSafe(std::string_view form) {
    for (std::size_t i = 0; i < form.size(); ++i) {
        const auto byte = static_cast<unsigned char>(form[i]);
        if (byte <= 0x20 || byte == 0x7f || byte == '"')
            return false;
        if (byte == '%' &&
            (i + 2 >= form.size() || !isHexDigit(form[i + 1]) || !isHexDigit(form[i + 2])))
            return false;
    }
    return true;
}

bool canBeFileName(std::string_view name) {
    return !name.empty() && name.size() <= 255 && name != "." && name != ".." &&
           name.find('/') == name.npos && name.find('\0') == name.npos;
}

void checkShortPathOfFile(std::string_view name) {
    const std::string path = fuzz::scratchDir() + "/" + std::string(name);
    std::ofstream(path) << "x";
    const std::string expected = mci::detail::escapePath(path);

    char tooSmall[4] = {'x', 'x', 'x', 'x'};
    const DWORD needed = GetShortPathNameA(path.c_str(), tooSmall, sizeof tooSmall);
    FUZZ_CHECK(needed == expected.size() + 1);
    FUZZ_CHECK(tooSmall[0] == '\0');

    std::string exact(needed + 1, '\x7f'); // one guard byte past the size given
    const DWORD length = GetShortPathNameA(path.c_str(), exact.data(), needed);
    FUZZ_CHECK(length == expected.size());
    FUZZ_CHECK(std::strlen(exact.c_str()) == length);
    FUZZ_CHECK(exact[needed] == '\x7f');
    FUZZ_CHECK(mci::detail::unescapePath(exact.substr(0, length)) == path);
    std::filesystem::remove(path);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string form = mci::detail::escapePath(bytes);
    FUZZ_CHECK(isCommandSafe(form));
    FUZZ_CHECK(mci::detail::unescapePath(form) == bytes);
    FUZZ_CHECK(mci::detail::unescapePath(bytes).size() <= bytes.size());
    if (canBeFileName(bytes))
        checkShortPathOfFile(bytes);
    return 0;
}
