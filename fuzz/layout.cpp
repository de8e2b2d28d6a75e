// The stored-layout reader on arbitrary text (UTF-8, invalid sequences replaced as a file read
// would). Invariants: no crash; one control, with a property bag, for each "[name]" line, in
// order and named by it; never more problems than lines.

#include "fuzz/FuzzSupport.h"
#include "player/StoredLayout.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const layout::StoredLayout parsed = layout::parseStoredLayout(text);

    const QStringList lines = text.split('\n');
    FUZZ_CHECK(parsed.problems.size() <= lines.size());
    std::size_t header = 0;
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (!line.startsWith('[') || !line.endsWith(']'))
            continue;
        FUZZ_CHECK(header < parsed.controls.size());
        FUZZ_CHECK(parsed.controls[header].name == line.mid(1, line.size() - 2).trimmed());
        ++header;
    }
    FUZZ_CHECK(header == parsed.controls.size());
    for (const layout::StoredControl& control : parsed.controls)
        FUZZ_CHECK(control.properties);
    return 0;
}
