#include "platform/mci/ShortPath.h"
#include "platform/listing/DirectoryListing.h"
#include "platform/mci/Mci.h"

#include <QString>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Short forms are this mark and a number. The open command takes an element of that shape that
// was given out here for its path; a file whose own name has that shape gets a form like any other.
constexpr char kFormMark = '~';

// The short forms given out in this process. A path keeps its form for the life of the process,
// so the table grows by one entry per distinct file ever looked up, never more.
class ShortForms {
public:
    std::string formOf(const std::string& path) {
        std::lock_guard lock(m_mutex);
        const auto [entry, added] = m_numbers.try_emplace(path, m_paths.size() + 1);
        if (added)
            m_paths.push_back(&entry->first);
        return kFormMark + std::to_string(entry->second);
    }

    std::optional<std::string> pathOf(std::string_view form) {
        if (form.size() < 2 || form.size() > mci::detail::kLongestShortForm ||
            form[0] != kFormMark || form[1] == '0')
            return std::nullopt;
        std::size_t number = 0;
        for (const char c : form.substr(1)) {
            if (c < '0' || c > '9')
                return std::nullopt;
            number = number * 10 + std::size_t(c - '0');
        }
        std::lock_guard lock(m_mutex);
        if (number > m_paths.size()) // 19 digits at most: the number did not wrap around
            return std::nullopt;
        return *m_paths[number - 1];
    }

private:
    std::mutex m_mutex;
    std::map<std::string, std::size_t> m_numbers;
    std::vector<const std::string*> m_paths; // by number - 1, into m_numbers' keys
};

ShortForms& shortForms() {
    static ShortForms forms;
    return forms;
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

// How many leading characters `a` and `b` share exactly.
qsizetype sharedPrefixLength(const QString& a, const QString& b) {
    return std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin();
}

// The name in `folder` that matches `wanted` without regard to case, both taken as text as the
// listing shows names, so that a name that is not UTF-8 is found by the text it was shown as.
// Of several, the one that agrees with `wanted` exactly for the most leading characters: a
// playlist entry keeps its file's name but for the case of the extension put back, so that is the
// file it was listed from. A tie goes to the least in byte order, so that the choice never
// depends on the order in which the folder lists them.
std::optional<std::string> nameIgnoringCase(const std::string& folder, std::string_view wanted) {
    const QString wantedText = listing::fileNameText(QByteArrayView(wanted));
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir)
        return std::nullopt;
    std::optional<std::string> chosen;
    qsizetype chosenShared = -1;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        const QString text = listing::fileNameText(QByteArrayView(name));
        if (text.compare(wantedText, Qt::CaseInsensitive) != 0)
            continue;
        const qsizetype shared = sharedPrefixLength(text, wantedText);
        if (shared > chosenShared || (shared == chosenShared && name < *chosen)) {
            chosen = std::string(name);
            chosenShared = shared;
        }
    }
    return chosen;
}

// `path` made absolute, with every element that names nothing as spelled replaced by the name
// of its folder that matches it without regard to case. The kernel still resolves ".." and
// symbolic links, exactly as it would for the path as given.
std::optional<std::string> lookUp(std::string_view path) {
    std::string found;
    if (path.front() != '/') {
        char current[PATH_MAX];
        if (!::getcwd(current, sizeof current))
            return std::nullopt;
        found = std::strcmp(current, "/") == 0 ? "" : current;
    }
    std::size_t at = 0;
    while (at < path.size()) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        const std::string_view element = path.substr(at, end - at);
        at = end + 1;
        if (element.empty())
            continue;
        std::string next = found + "/" + std::string(element);
        struct stat info {};
        if (::lstat(next.c_str(), &info) != 0) {
            if (errno != ENOENT)
                return std::nullopt;
            const auto name = nameIgnoringCase(found.empty() ? "/" : found, element);
            if (!name)
                return std::nullopt;
            next = found + "/" + *name;
        }
        found = std::move(next);
    }
    if (found.empty() || path.back() == '/') // a trailing '/' still asks for a folder
        found += '/';
    if (found.size() >= PATH_MAX)
        return std::nullopt;
    return found;
}

} // namespace

namespace mci::detail {

std::string pathOfElement(std::string_view element) {
    if (auto path = shortForms().pathOf(element))
        return std::move(*path);
    return unescapePath(element);
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

std::string mci::pathOpenedFor(const char* longPath) {
    if (!longPath || !*longPath)
        return {};
    std::optional<std::string> path = lookUp(longPath);
    struct stat info {};
    if (!path || ::stat(path->c_str(), &info) != 0)
        return {};
    return std::move(*path);
}

DWORD GetShortPathNameA(const char* longPath, char* shortPath, DWORD size) {
    const std::string path = mci::pathOpenedFor(longPath);
    if (path.empty())
        return 0;
    const std::string form = shortForms().formOf(path);
    if (form.size() + 1 > size) {
        if (shortPath && size > 0)
            shortPath[0] = '\0';
        return static_cast<DWORD>(form.size() + 1);
    }
    std::memcpy(shortPath, form.c_str(), form.size() + 1);
    return static_cast<DWORD>(form.size());
}
