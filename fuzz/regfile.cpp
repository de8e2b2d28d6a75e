// The REGEDIT4 reader of the registry's file stores, on arbitrary text.
//
// Invariants: no crash; whatever was read (all of it, or the keys up to the first unreadable
// line) is written back by the formatter as a file that reads again without a problem and
// gives the same keys, spellings and values, and that text is a fixed point of the formatter.
// Through the public calls, with the text as the per-user file: setting a value either fails
// with ERROR_BADDB on a damaged file and leaves it byte for byte as it was, or succeeds on a
// sound one and leaves a file that reads whole with every key it held plus the new value.

#include "fuzz/FuzzSupport.h"
#include "platform/registry/Hive.h"
#include "platform/registry/Stores.h"

#include <fstream>
#include <iterator>

namespace {

bool sameValues(const registry::Key& a, const registry::Key& b) {
    if (a.spelling != b.spelling || a.values.size() != b.values.size())
        return false;
    for (std::size_t i = 0; i < a.values.size(); ++i) {
        const registry::Value& x = a.values[i];
        const registry::Value& y = b.values[i];
        if (x.name != y.name || x.type != y.type || x.data != y.data)
            return false;
    }
    return true;
}

bool sameHive(const registry::Hive& a, const registry::Hive& b) {
    if (a.size() != b.size())
        return false;
    for (const auto& [path, key] : a.keys()) {
        const registry::Key* other = b.find(key.spelling);
        if (!other || !sameValues(key, *other))
            return false;
    }
    return true;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

constexpr char kFuzzKey[] = "Software\\QuivaFuzz";

LONG setFuzzValue() {
    HKEY key = 0;
    LONG result = RegCreateKeyExA(HKEY_CURRENT_USER, kFuzzKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS)
        return result;
    result = RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2);
    RegCloseKey(key);
    return result;
}

void checkFileStore(std::string_view text, const registry::ParsedHive& parsed) {
    const std::string perUser = fuzz::scratchDir() + "/user.reg";
    std::ofstream(perUser, std::ios::binary | std::ios::trunc)
        .write(text.data(), static_cast<std::streamsize>(text.size()));
    registry::useFileStores({perUser, fuzz::scratchDir() + "/no-system.reg"});
    const LONG result = setFuzzValue();
    const std::string after = fileBytes(perUser);
    if (!parsed.problem.empty()) {
        FUZZ_CHECK(result == ERROR_BADDB);
        FUZZ_CHECK(after == text);
        return;
    }
    FUZZ_CHECK(result == ERROR_SUCCESS);
    const registry::ParsedHive reread = registry::parseRegFile(after);
    FUZZ_CHECK(reread.problem.empty());
    registry::Hive expected = parsed.hive;
    expected.create(registry::joinPath("HKEY_CURRENT_USER", kFuzzKey)).set({"v", REG_SZ, {'1', 0}});
    FUZZ_CHECK(sameHive(expected, reread.hive));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const registry::ParsedHive parsed = registry::parseRegFile(text);
    const std::string written = registry::formatRegFile(parsed.hive);
    const registry::ParsedHive reread = registry::parseRegFile(written);
    if (!reread.problem.empty())
        std::fprintf(stderr, "fuzz: the written file does not read: %s\n", reread.problem.c_str());
    FUZZ_CHECK(reread.problem.empty());
    FUZZ_CHECK(sameHive(parsed.hive, reread.hive));
    FUZZ_CHECK(registry::formatRegFile(reread.hive) == written);
    checkFileStore(text, parsed);
    return 0;
}
