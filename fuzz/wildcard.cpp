// The listing's wildcard matcher and natural order. Input: the pattern, a line break, the name
// (UTF-8; invalid sequences replaced). The mode of the listing test below comes from the
// pattern's length.
//
// Invariants: matchesWildcard agrees with a plain dynamic-programming matcher over case-folded
// code points; every pattern matches itself; compareNatural is 0 exactly for equal texts and
// antisymmetric. Patterns without '/' also list a fixed folder: every name listed matches, every
// matching entry is listed, and the list is in natural order.

#include "fuzz/FuzzSupport.h"
#include "platform/listing/DirectoryListing.h"

#include <fstream>

namespace {

constexpr qsizetype kMaxCodePoints = 200; // keeps the reference matcher cheap

std::u32string folded(const QString& text) {
    std::u32string result;
    for (const char32_t codePoint : text.toUcs4())
        result.push_back(QChar::toCaseFolded(codePoint));
    return result;
}

// match[i][j]: the first i pattern characters match the first j name characters.
bool referenceMatch(const QString& pattern, const QString& name) {
    const std::u32string p = folded(pattern);
    const std::u32string n = folded(name);
    std::vector<std::vector<char>> match(p.size() + 1, std::vector<char>(n.size() + 1, 0));
    match[0][0] = 1;
    for (std::size_t i = 1; i <= p.size(); ++i) {
        for (std::size_t j = 0; j <= n.size(); ++j) {
            if (p[i - 1] == U'*')
                match[i][j] = match[i - 1][j] || (j > 0 && match[i][j - 1]);
            else if (j > 0 && (p[i - 1] == U'?' || p[i - 1] == n[j - 1]))
                match[i][j] = match[i - 1][j - 1];
        }
    }
    return match[p.size()][n.size()];
}

int sign(int value) {
    return (value > 0) - (value < 0);
}

// Regular files and folders of the listed folder; hidden ones must never show.
const QStringList kFiles = {"Track 2.mp3",   "track 10.MP3", "Track 02.mp3", "[x].mp3",
                            "Ünïcödé ♫.mp3", "a*b?.mp3",     "noext",        "ß.txt"};
const QStringList kFolders = {"Music", "sub 1"};

const QString& listedFolder() {
    static const QString folder = [] {
        const std::string dir = fuzz::scratchDir() + "/listed";
        std::filesystem::create_directory(dir);
        for (const QString& name : kFiles)
            std::ofstream(dir + "/" + name.toStdString()) << "x";
        for (const QString& name : kFolders)
            std::filesystem::create_directory(dir + "/" + name.toStdString());
        std::ofstream(dir + "/.hidden.mp3") << "x";
        return QString::fromStdString(dir);
    }();
    return folder;
}

void checkListing(const QString& pattern, bool withFolders) {
    const QStringList listed =
        listing::listDirectory(listedFolder() + "/" + pattern, withFolders ? DDL_DIRECTORY : 0);
    QStringList expected;
    for (const QString& name : kFiles)
        if (referenceMatch(pattern, name))
            expected << name;
    for (const QString& name : kFolders)
        if (withFolders && referenceMatch(pattern, name))
            expected << "[" + name + "]";
    FUZZ_CHECK(listed.size() == expected.size());
    for (const QString& entry : expected)
        FUZZ_CHECK(listed.contains(entry));
    // Folders are ordered by their names, without the brackets they are listed in.
    const auto nameOf = [](const QString& entry) {
        for (const QString& folder : kFolders)
            if (entry == "[" + folder + "]")
                return folder;
        return entry;
    };
    for (qsizetype i = 1; i < listed.size(); ++i)
        FUZZ_CHECK(listing::compareNatural(nameOf(listed[i - 1]), nameOf(listed[i])) < 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parts = fuzz::fields(std::string_view(reinterpret_cast<const char*>(data), size), 1);
    const QString pattern = QString::fromUtf8(parts[0].data(), qsizetype(parts[0].size()));
    const QString name = QString::fromUtf8(parts[1].data(), qsizetype(parts[1].size()));
    if (pattern.size() > kMaxCodePoints || name.size() > kMaxCodePoints)
        return 0;

    FUZZ_CHECK(listing::matchesWildcard(pattern, name) == referenceMatch(pattern, name));
    FUZZ_CHECK(listing::matchesWildcard(pattern, pattern));

    const int forward = listing::compareNatural(pattern, name);
    const int backward = listing::compareNatural(name, pattern);
    FUZZ_CHECK(sign(forward) == -sign(backward));
    FUZZ_CHECK((forward == 0) == (pattern == name));
    FUZZ_CHECK(listing::compareNatural(name, name) == 0);

    if (!pattern.contains('/') && !pattern.contains(QChar(0)))
        checkListing(pattern, pattern.size() % 2 == 1);
    return 0;
}
