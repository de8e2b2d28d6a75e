// The INI reader and writer on arbitrary file bytes. Input: one mode byte (bit 0: remove the key
// instead of setting it; bits 1-2: the reading buffer's size), then the lines "section", "key",
// "value", and the rest of the input is the file as it was before the write.
//
// Invariants: reads never overrun and cut only between UTF-8 sequences; a write either fails
// with the file untouched (only for requests that cannot be stored) or changes at most the one
// line of the key (or adds it, with its section), keeps every other line byte for byte, and the
// value then reads back as the reading rules give it; no temporary file is left behind.

#include "fuzz/FuzzSupport.h"
#include "platform/profile/PrivateProfile.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr DWORD kLargeBuffer = 1 << 17;

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void putFile(const std::string& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    if (first == text.npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string_view unquoted(std::string_view value) {
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front();
    return quoted ? value.substr(1, value.size() - 2) : value;
}

bool hasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != text.npos;
}

// What the writer promises to store: everything but the refusals its contract lists.
bool storable(std::string_view section, std::string_view key, const char* value) {
    section = trimmed(section);
    key = trimmed(key);
    return !hasLineBreak(section) && section.find(']') == section.npos && !key.empty() &&
           !hasLineBreak(key) && key.find('=') == key.npos && key.front() != ';' &&
           key.front() != '[' && (!value || !hasLineBreak(value));
}

std::string readValue(const std::string& section, const std::string& key, DWORD size,
                      const std::string& path) {
    std::string buffer(size + 1, '\x7f'); // one guard byte past what the reader may touch
    const DWORD count = GetPrivateProfileStringA(section.c_str(), key.c_str(), "\x01",
                                                 buffer.data(), size, path.c_str());
    FUZZ_CHECK(count < size);
    FUZZ_CHECK(buffer[count] == '\0');
    FUZZ_CHECK(buffer[size] == '\x7f');
    return buffer.substr(0, count);
}

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// A small buffer gets a prefix of the whole value, cut back by no more than a UTF-8 sequence.
void checkTruncatedRead(const std::string& section, const std::string& key, DWORD size,
                        const std::string& path) {
    const std::string whole = readValue(section, key, kLargeBuffer, path);
    const std::string part = readValue(section, key, size, path);
    FUZZ_CHECK(whole.compare(0, part.size(), part) == 0);
    if (part.size() < whole.size()) {
        FUZZ_CHECK(part.size() + 3 >= size - 1);
        // A cut inside a sequence is only allowed before more than three continuation bytes,
        // which no UTF-8 text holds.
        const std::size_t cut = part.size();
        if (isContinuationByte(whole[cut]))
            FUZZ_CHECK(cut + 3 < whole.size() && isContinuationByte(whole[cut + 1]) &&
                       isContinuationByte(whole[cut + 2]) && isContinuationByte(whole[cut + 3]));
    }
}

// Lines with their line ends, so that a comparison sees every byte.
std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        const std::size_t length = newline == text.npos ? text.size() : newline + 1;
        lines.push_back(text.substr(0, length));
        text.remove_prefix(length);
    }
    return lines;
}

// How many lines of the old text were replaced and how many new ones took their place, when
// the lines before and after the change are kept byte for byte. The old last line may only
// have gained a line end.
std::pair<std::size_t, std::size_t> changedLines(std::string_view before, std::string_view after) {
    const auto old = linesOf(before);
    const auto now = linesOf(after);
    auto same = [&](std::size_t i, std::size_t j) {
        if (old[i] == now[j])
            return true;
        const bool lastWithoutEnd = i + 1 == old.size() && !old[i].ends_with('\n');
        const std::string_view rest = now[j].substr(std::min(old[i].size(), now[j].size()));
        return lastWithoutEnd && now[j].starts_with(old[i]) && (rest == "\n" || rest == "\r\n");
    };
    const std::size_t limit = std::min(old.size(), now.size());
    std::size_t prefix = 0;
    while (prefix < limit && same(prefix, prefix))
        ++prefix;
    std::size_t suffix = 0;
    while (prefix + suffix < limit && old[old.size() - 1 - suffix] == now[now.size() - 1 - suffix])
        ++suffix;
    return {old.size() - prefix - suffix, now.size() - prefix - suffix};
}

bool leftoverTemporaryFiles() {
    for (const auto& entry : std::filesystem::directory_iterator(fuzz::scratchDir()))
        if (entry.path().filename().string().find(".tmp-") != std::string::npos)
            return true;
    return false;
}

void checkWrite(const std::string& section, const std::string& key, const char* value,
                const std::string& path) {
    const std::string before = fileBytes(path);
    const bool written =
        WritePrivateProfileStringA(section.c_str(), key.c_str(), value, path.c_str());
    const std::string after = fileBytes(path);
    FUZZ_CHECK(!leftoverTemporaryFiles());
    FUZZ_CHECK(written == storable(section, key, value));
    if (!written) {
        FUZZ_CHECK(after == before);
        return;
    }
    // The byte order mark stays in front of the first line and is no part of it.
    const bool marked = before.starts_with(kByteOrderMark);
    FUZZ_CHECK(after.starts_with(kByteOrderMark) == marked);
    const std::size_t skip = marked ? kByteOrderMark.size() : 0;
    const auto [replaced, added] =
        changedLines(std::string_view(before).substr(skip), std::string_view(after).substr(skip));
    if (!value) {
        FUZZ_CHECK((replaced == 1 && added == 0) || (replaced == 0 && added == 0));
        return;
    }
    // Setting the value a line already holds leaves the file as it was.
    FUZZ_CHECK((replaced == added && added <= 1) || (replaced == 0 && (added == 1 || added == 2)));
    FUZZ_CHECK(readValue(section, key, kLargeBuffer, path) == unquoted(trimmed(value)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    static const DWORD kSizes[] = {1, 3, 7, 256};
    const std::uint8_t mode = data[0];
    const auto parts =
        fuzz::fields(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), 3);
    // The calls take C texts: each field ends at its first zero byte, as a caller's would.
    const std::string section(parts[0].data(), strnlen(parts[0].data(), parts[0].size()));
    const std::string key(parts[1].data(), strnlen(parts[1].data(), parts[1].size()));
    const std::string value(parts[2].data(), strnlen(parts[2].data(), parts[2].size()));
    const std::string path = fuzz::scratchDir() + "/fuzz.ini";
    putFile(path, parts[3]);

    checkTruncatedRead(section, key, kSizes[(mode >> 1) & 3], path);
    checkWrite(section, key, (mode & 1) ? nullptr : value.c_str(), path);
    return 0;
}
