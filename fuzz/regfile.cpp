// The REGEDIT4 reader of the registry's file stores, on arbitrary text.
//
// Invariants: no crash; whatever was read (all of it, or the keys up to the first unreadable
// line) is written back by the formatter as a file that reads again without a problem and
// gives the same keys, spellings and values, and that text is a fixed point of the formatter.
// This is what keeps a store that the registry rewrites after a change from losing keys.

#include "fuzz/FuzzSupport.h"
#include "platform/registry/Hive.h"

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
    return 0;
}
