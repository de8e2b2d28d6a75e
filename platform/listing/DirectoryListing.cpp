#include "platform/listing/DirectoryListing.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using Folded = std::u32string;

Folded fold(const QString& text) {
    Folded folded;
    folded.reserve(std::size_t(text.size()));
    for (const char32_t codePoint : text.toUcs4())
        folded.push_back(QChar::toCaseFolded(codePoint));
    return folded;
}

bool wildcardMatch(const Folded& pattern, const Folded& name) {
    constexpr std::size_t kNoStar = Folded::npos;
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = kNoStar; // position of the last '*' seen, to retry from
    std::size_t starMatchEnd = 0;
    while (n < name.size()) {
        // '*' first: a '*' in the name must not be taken as its literal match.
        if (p < pattern.size() && pattern[p] == U'*') {
            star = p++;
            starMatchEnd = n;
        } else if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (star != kNoStar) {
            p = star + 1;
            n = ++starMatchEnd;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == U'*')
        ++p;
    return p == pattern.size();
}

bool isDigit(char32_t c) {
    return c >= U'0' && c <= U'9';
}

int sign(long long value) {
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

// Natural comparison of folded texts; a tie on everything but leading zeros reports 0 and leaves
// the zero count difference in `zeroTie`.
int compareFolded(const Folded& a, const Folded& b, int* zeroTie) {
    std::size_t i = 0;
    std::size_t j = 0;
    *zeroTie = 0;
    while (i < a.size() && j < b.size()) {
        if (!isDigit(a[i]) || !isDigit(b[j])) {
            if (a[i] != b[j])
                return a[i] < b[j] ? -1 : 1;
            ++i;
            ++j;
            continue;
        }
        std::size_t endA = i;
        std::size_t endB = j;
        while (endA < a.size() && isDigit(a[endA]))
            ++endA;
        while (endB < b.size() && isDigit(b[endB]))
            ++endB;
        std::size_t startA = i;
        std::size_t startB = j;
        while (startA + 1 < endA && a[startA] == U'0')
            ++startA;
        while (startB + 1 < endB && b[startB] == U'0')
            ++startB;
        if (endA - startA != endB - startB)
            return endA - startA < endB - startB ? -1 : 1;
        const int digits = a.compare(startA, endA - startA, b, startB, endB - startB);
        if (digits != 0)
            return sign(digits);
        if (*zeroTie == 0)
            *zeroTie = sign((long long)(startA - i) - (long long)(startB - j));
        i = endA;
        j = endB;
    }
    return sign((long long)(a.size() - i) - (long long)(b.size() - j));
}

struct Entry {
    QString name;
    Folded key;
    bool isDirectory;
};

bool naturallyBefore(const Entry& a, const Entry& b) {
    int zeroTie = 0;
    const int byKey = compareFolded(a.key, b.key, &zeroTie);
    if (byKey != 0)
        return byKey < 0;
    if (zeroTie != 0)
        return zeroTie < 0;
    return a.name < b.name;
}

enum class Kind { File, Directory, Other };

// What an entry is, following symbolic links; a stat is only spent where the directory entry
// itself does not tell.
Kind kindOf(DIR* directory, const dirent* entry) {
    if (entry->d_type == DT_REG)
        return Kind::File;
    if (entry->d_type == DT_DIR)
        return Kind::Directory;
    if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
        return Kind::Other;
    struct stat info {};
    if (::fstatat(::dirfd(directory), entry->d_name, &info, 0) != 0)
        return Kind::Other;
    return S_ISREG(info.st_mode) ? Kind::File
                                 : (S_ISDIR(info.st_mode) ? Kind::Directory : Kind::Other);
}

// Whether the text shown for an entry's name leads back to that entry: not for a name that is not
// UTF-8 whose Latin-1 text, in UTF-8, is the name of another entry, which that text would open.
bool textLeadsBack(DIR* directory, const dirent* entry, const QString& text) {
    const QByteArray spelled = text.toUtf8();
    struct stat info {};
    return spelled == entry->d_name ||
           ::fstatat(::dirfd(directory), spelled.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0;
}

class DirectoryHandle {
public:
    explicit DirectoryHandle(const QByteArray& path) : m_dir(::opendir(path.constData())) {}
    ~DirectoryHandle() {
        if (m_dir)
            ::closedir(m_dir);
    }
    DirectoryHandle(const DirectoryHandle&) = delete;
    DirectoryHandle& operator=(const DirectoryHandle&) = delete;
    DIR* get() const { return m_dir; }

private:
    DIR* m_dir;
};

std::vector<Entry> matchingEntries(const QString& directory, const Folded& pattern,
                                   bool withDirectories) {
    std::vector<Entry> entries;
    const DirectoryHandle handle(directory.isEmpty() ? QByteArray(".") : directory.toUtf8());
    if (!handle.get())
        return entries;
    while (const dirent* entry = ::readdir(handle.get())) {
        if (entry->d_name[0] == '.')
            continue;
        QString name = listing::fileNameText(entry->d_name);
        Folded key = fold(name);
        if (!wildcardMatch(pattern, key) || !textLeadsBack(handle.get(), entry, name))
            continue;
        const Kind kind = kindOf(handle.get(), entry);
        if (kind == Kind::File || (kind == Kind::Directory && withDirectories))
            entries.push_back({std::move(name), std::move(key), kind == Kind::Directory});
    }
    return entries;
}

} // namespace

namespace listing {

QStringList listDirectory(const QString& directoryAndPattern, unsigned attributes) {
    const qsizetype split = directoryAndPattern.lastIndexOf(u'/') + 1;
    std::vector<Entry> entries =
        matchingEntries(directoryAndPattern.left(split), fold(directoryAndPattern.mid(split)),
                        (attributes & DDL_DIRECTORY) != 0);
    std::sort(entries.begin(), entries.end(), naturallyBefore);
    QStringList names;
    names.reserve(qsizetype(entries.size()));
    for (const Entry& entry : entries)
        names << (entry.isDirectory ? u'[' + entry.name + u']' : entry.name);
    return names;
}

QString fileNameText(QByteArrayView bytes) {
    // Invalid bytes would decode to replacement characters, which do not lead back to the name.
    QString text = QString::fromUtf8(bytes);
    return text.toUtf8() == bytes ? text : QString::fromLatin1(bytes);
}

bool matchesWildcard(const QString& pattern, const QString& name) {
    return wildcardMatch(fold(pattern), fold(name));
}

int compareNatural(const QString& a, const QString& b) {
    Entry left{a, fold(a), false};
    Entry right{b, fold(b), false};
    if (naturallyBefore(left, right))
        return -1;
    return naturallyBefore(right, left) ? 1 : 0;
}

} // namespace listing
