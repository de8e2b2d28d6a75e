// The short path form on arbitrary byte names.
//
// Invariants: unescaping never makes an element longer. A file made under the input as its name
// (when it can be one) gets from GetShortPathNameA a form that holds no byte that splits or
// confuses a command (controls, space, '"', DEL), fits 20 characters and that the open command
// takes back to the same file, with the length contract kept for buffers too small and exact. Asked
// for with its ASCII letters in the other case, the same file is found when its name is ASCII (it
// is the only file of its folder), and nothing else ever is.

#include "platform/mci/ShortPath.h"
#include "fuzz/FuzzSupport.h"
#include "platform/mci/Mci.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

namespace {

bool isCommandSafe(std::string_view form) {
    return std::none_of(form.begin(), form.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7f || byte == '"';
    });
}

bool canBeFileName(std::string_view name) {
    return !name.empty() && name.size() <= 255 && name != "." && name != ".." &&
           name.find('/') == name.npos && name.find('\0') == name.npos;
}

std::string withOtherCase(std::string_view name) {
    std::string swapped(name);
    for (char& c : swapped) {
        const auto byte = static_cast<unsigned char>(c);
        c = static_cast<char>(std::isupper(byte) ? std::tolower(byte) : std::toupper(byte));
    }
    return swapped;
}

bool isSameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool isAscii(std::string_view name) {
    return std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; });
}

void checkShortPathOfFile(std::string_view name) {
    const std::string path = fuzz::scratchDir() + "/" + std::string(name);
    std::ofstream(path) << "x";

    char tooSmall[2] = {'x', 'x'};
    const DWORD needed = GetShortPathNameA(path.c_str(), tooSmall, sizeof tooSmall);
    FUZZ_CHECK(needed > sizeof tooSmall && needed <= mci::detail::kLongestShortForm + 1);
    FUZZ_CHECK(tooSmall[0] == '\0');

    std::string exact(needed + 1, '\x7f'); // one guard byte past the size given
    const DWORD length = GetShortPathNameA(path.c_str(), exact.data(), needed);
    FUZZ_CHECK(length + 1 == needed);
    FUZZ_CHECK(std::strlen(exact.c_str()) == length);
    FUZZ_CHECK(exact[needed] == '\x7f');
    const std::string form = exact.substr(0, length);
    FUZZ_CHECK(isCommandSafe(form));
    FUZZ_CHECK(isSameFile(mci::detail::pathOfElement(form), path));

    const std::string otherCase = fuzz::scratchDir() + "/" + withOtherCase(name);
    char found[mci::detail::kLongestShortForm + 1] = {};
    if (GetShortPathNameA(otherCase.c_str(), found, sizeof found) > 0)
        FUZZ_CHECK(isSameFile(mci::detail::pathOfElement(found), path));
    else
        FUZZ_CHECK(!isAscii(name));
    std::filesystem::remove(path);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(mci::detail::unescapePath(bytes).size() <= bytes.size());
    if (canBeFileName(bytes))
        checkShortPathOfFile(bytes);
    return 0;
}
