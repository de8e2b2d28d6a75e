#include "platform/profile/PrivateProfile.h"

#include <QString>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (isAscii(a) && isAscii(b)) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   auto lower = [](char c) {
                       return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
                   };
                   return lower(x) == lower(y);
               });
    }
    const QString left = QString::fromUtf8(a.data(), qsizetype(a.size()));
    const QString right = QString::fromUtf8(b.data(), qsizetype(b.size()));
    return left.compare(right, Qt::CaseInsensitive) == 0;
}

std::string_view withoutQuotes(std::string_view value) {
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front();
    return quoted ? value.substr(1, value.size() - 2) : value;
}

enum class LineKind { Other, Header, Key };

// One line of the file: its text without the line end, and the line end itself ("\n", "\r\n" or
// nothing for a last line without one), so that untouched lines are written back unchanged.
struct Line {
    std::string_view body;
    std::string_view ending;
    LineKind kind = LineKind::Other;
    std::string_view name;       // section name or key, trimmed
    std::string_view value;      // trimmed, quotes still on
    std::size_t valueOffset = 0; // where the value starts in body
};

Line classify(std::string_view body, std::string_view ending) {
    Line line;
    line.body = body;
    line.ending = ending;
    const std::string_view text = trim(body);
    if (text.empty() || text.front() == ';')
        return line;
    if (text.front() == '[') {
        const auto close = text.find(']');
        if (close != std::string_view::npos) {
            line.kind = LineKind::Header;
            line.name = trim(text.substr(1, close - 1));
            return line;
        }
    }
    const auto equals = body.find('=');
    if (equals == std::string_view::npos)
        return line;
    const std::string_view key = trim(body.substr(0, equals));
    if (key.empty())
        return line;
    line.kind = LineKind::Key;
    line.name = key;
    const auto valueStart = body.find_first_not_of(kBlanks, equals + 1);
    line.valueOffset = valueStart == std::string_view::npos ? body.size() : valueStart;
    line.value = trim(body.substr(line.valueOffset));
    return line;
}

// A parsed file. The views point into `text`, which must outlive it.
struct Profile {
    std::string_view byteOrderMark;
    std::vector<Line> lines;

    static Profile parse(std::string_view text) {
        Profile profile;
        if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
            profile.byteOrderMark = text.substr(0, kByteOrderMark.size());
            text.remove_prefix(kByteOrderMark.size());
        }
        while (!text.empty()) {
            const auto newline = text.find('\n');
            std::string_view body = text.substr(0, newline);
            std::string_view ending;
            if (newline != std::string_view::npos) {
                const bool crlf = !body.empty() && body.back() == '\r';
                if (crlf)
                    body.remove_suffix(1);
                ending = text.substr(body.size(), crlf ? 2 : 1);
            }
            profile.lines.push_back(classify(body, ending));
            text.remove_prefix(body.size() + ending.size());
        }
        return profile;
    }

    // The line end new lines get: the file's first one, or "\n" for a file without any.
    std::string_view lineEnd() const {
        for (const Line& line : lines)
            if (!line.ending.empty())
                return line.ending;
        return "\n";
    }
};

struct Location {
    std::optional<std::size_t> key;     // first line holding the key
    std::optional<std::size_t> section; // header of the first matching section
    std::size_t lastLineOfSection = 0;  // its header or its last key line
};

Location locate(const Profile& profile, std::string_view section, std::string_view key) {
    Location found;
    bool inSection = false;
    bool inFirstSection = false;
    for (std::size_t i = 0; i < profile.lines.size(); ++i) {
        const Line& line = profile.lines[i];
        if (line.kind == LineKind::Header) {
            inSection = equalsIgnoringCase(line.name, section);
            inFirstSection = inSection && !found.section;
            if (inFirstSection) {
                found.section = i;
                found.lastLineOfSection = i;
            }
        } else if (line.kind == LineKind::Key && inSection) {
            if (inFirstSection)
                found.lastLineOfSection = i;
            if (equalsIgnoringCase(line.name, key)) {
                found.key = i;
                return found;
            }
        }
    }
    return found;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    // Closes now and reports whether the close succeeded (it may report a delayed write error).
    bool close() {
        const int fd = std::exchange(m_fd, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

struct FileContent {
    std::string bytes;
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
};

enum class ReadError { Missing, Unusable };

// The whole content of a regular file. Opening never blocks (a FIFO is refused, not waited on).
std::optional<FileContent> readRegularFile(const char* path, ReadError* error) {
    FileDescriptor file(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<unsigned long long>(info.st_size) > kMaxProfileFileBytes) {
        *error = (file.get() < 0 && errno == ENOENT) ? ReadError::Missing : ReadError::Unusable;
        return std::nullopt;
    }
    FileContent content;
    content.mode = info.st_mode & 07777;
    content.owner = info.st_uid;
    content.group = info.st_gid;
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(file.get(), chunk, sizeof chunk);
        if (got == 0)
            return content;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || content.bytes.size() + std::size_t(got) > kMaxProfileFileBytes) {
            *error = ReadError::Unusable;
            return std::nullopt;
        }
        content.bytes.append(chunk, std::size_t(got));
    }
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data.remove_prefix(std::size_t(written));
    }
    return true;
}

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A fresh, exclusively created file beside `path`; the name is returned through `tempPath`.
int createTempBeside(const std::string& path, std::string* tempPath) {
    static std::atomic<unsigned> counter{0};
    const auto slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        *tempPath = directory + "." + base + ".tmp-" + std::to_string(::getpid()) + "-" +
                    std::to_string(counter++);
        const int fd = ::open(tempPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Gives the new file the old one's owner, group and mode, as far as this user may: the owner
// only when running as root, the group only among the user's own groups.
bool takeOverAttributes(int temp, const FileContent& old) {
    if (::fchown(temp, old.owner, old.group) != 0)
        (void)::fchown(temp, uid_t(-1), old.group);
    return ::fchmod(temp, old.mode) == 0; // after chown, which may clear set-id bits
}

// Replaces (or creates) `path` in the open folder `folder` with `content`, so that no reader ever
// sees a partial file; a replaced file's attributes are taken from `old`.
bool replaceAtomically(const std::string& path, int folder, std::string_view content,
                       const std::optional<FileContent>& old) {
    std::string tempPath;
    FileDescriptor temp(createTempBeside(path, &tempPath));
    if (temp.get() < 0)
        return false;
    const bool written = (!old || takeOverAttributes(temp.get(), *old)) &&
                         writeAll(temp.get(), content) && ::fsync(temp.get()) == 0 &&
                         temp.close() && ::rename(tempPath.c_str(), path.c_str()) == 0;
    if (!written) {
        ::unlink(tempPath.c_str());
        return false;
    }
    // The rename is only durable once the directory itself reaches the disk.
    ::fsync(folder);
    return true;
}

// A file without any write permission bit is read-only for everyone, root included, as the
// classic read-only attribute is; otherwise the user must be allowed to write it.
bool mayReplace(const std::string& path, const FileContent& file) {
    return (file.mode & 0222) != 0 && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

// Waits, on a thread of its own, for the lock that another writer holds on `folder`: the kernel
// wakes a blocked waiter the moment the lock is dropped, where polling would miss most of the
// short gaps between another writer's writes. Gives up after kProfileLockWait, whoever holds the
// lock; the waiting thread then drops the lock as soon as it gets it.
bool waitForLock(int folder) {
    struct Wait {
        std::mutex mutex;
        std::condition_variable over;
        bool finished = false;
        bool locked = false;
    };
    // The same open file description: the lock the copy gets is this one's, and outlives the copy.
    const int copy = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return false;
    const auto wait = std::make_shared<Wait>();
    try {
        std::thread([wait, copy] {
            int result = 0;
            do
                result = ::flock(copy, LOCK_EX);
            while (result != 0 && errno == EINTR);
            ::close(copy);
            const std::lock_guard lock(wait->mutex);
            wait->finished = true;
            wait->locked = result == 0;
            wait->over.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        ::close(copy);
        return false;
    }
    std::unique_lock lock(wait->mutex);
    return wait->over.wait_for(lock, kProfileLockWait, [&] { return wait->finished; }) &&
           wait->locked;
}

// Serialises the read-modify-write of every writer in the folder, threads and processes alike, by
// a lock on the folder itself (no lock file is left beside the settings). On a file system
// without such locks the write goes ahead unlocked, as it always did.
bool lockFolder(int folder) {
    if (::flock(folder, LOCK_EX | LOCK_NB) == 0)
        return true;
    return errno != EWOULDBLOCK || waitForLock(folder);
}

// The file a write must replace: a symbolic link is followed so that the link itself stays.
std::optional<std::string> writeTarget(const char* fileName) {
    struct stat info {};
    if (::lstat(fileName, &info) != 0 || !S_ISLNK(info.st_mode))
        return std::string(fileName);
    char resolved[PATH_MAX];
    if (!::realpath(fileName, resolved))
        return std::nullopt;
    return std::string(resolved);
}

bool hasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != text.npos;
}

bool isStorableRequest(const char* section, const char* key, const char* value,
                       const char* fileName) {
    if (!section || !key || !fileName || *fileName == '\0')
        return false;
    const std::string_view sectionName = trim(section);
    const std::string_view keyName = trim(key);
    const bool sectionOk = !hasLineBreak(sectionName) && sectionName.find(']') == sectionName.npos;
    const bool keyOk = !keyName.empty() && !hasLineBreak(keyName) &&
                       keyName.find('=') == keyName.npos && keyName.front() != ';' &&
                       keyName.front() != '[';
    return sectionOk && keyOk && (!value || !hasLineBreak(value));
}

// The new file content, or nothing when the file needs no change.
std::optional<std::string> withValue(std::string_view old, std::string_view section,
                                     std::string_view key, const char* value) {
    Profile profile = Profile::parse(old);
    const Location at = locate(profile, section, key);
    const std::string_view eol = profile.lineEnd();
    std::deque<std::string> added; // storage for the lines this write makes up (stays in place)
    auto makeLine = [&](std::string text) -> std::string_view {
        return added.emplace_back(std::move(text));
    };
    auto endLastLine = [&] {
        if (!profile.lines.empty() && profile.lines.back().ending.empty())
            profile.lines.back().ending = eol;
    };

    if (!value && !at.key)
        return std::nullopt;
    if (!value) {
        profile.lines.erase(profile.lines.begin() + std::ptrdiff_t(*at.key));
    } else if (at.key) {
        Line& line = profile.lines[*at.key];
        line.body = makeLine(std::string(line.body.substr(0, line.valueOffset)) + value);
    } else if (at.section) {
        if (at.lastLineOfSection + 1 == profile.lines.size())
            endLastLine();
        const Line entry = classify(makeLine(std::string(key) + "=" + value), eol);
        profile.lines.insert(profile.lines.begin() + std::ptrdiff_t(at.lastLineOfSection + 1),
                             entry);
    } else {
        endLastLine();
        profile.lines.push_back(classify(makeLine("[" + std::string(section) + "]"), eol));
        profile.lines.push_back(classify(makeLine(std::string(key) + "=" + value), eol));
    }

    std::string content(profile.byteOrderMark);
    content.reserve(old.size() + 64);
    for (const Line& line : profile.lines)
        content.append(line.body).append(line.ending);
    return content;
}

DWORD copyTruncated(std::string_view text, char* buffer, DWORD size) {
    std::size_t count = std::min<std::size_t>(text.size(), size - 1);
    // Cut before a UTF-8 sequence that does not fit whole (at most three continuation bytes).
    for (int back = 0; count < text.size() && count > 0 && back < 3 &&
                       (static_cast<unsigned char>(text[count]) & 0xC0) == 0x80;
         ++back)
        --count;
    std::copy_n(text.data(), count, buffer);
    buffer[count] = '\0';
    return DWORD(count);
}

} // namespace

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* buffer, DWORD size, const char* fileName) {
    if (!buffer || size == 0)
        return 0;
    const std::string_view fallback = defaultValue ? defaultValue : "";
    if (!section || !key || !fileName)
        return copyTruncated(fallback, buffer, size);
    ReadError error{};
    const std::optional<FileContent> file = readRegularFile(fileName, &error);
    if (!file)
        return copyTruncated(fallback, buffer, size);
    const Profile profile = Profile::parse(file->bytes);
    const Location at = locate(profile, trim(section), trim(key));
    if (!at.key)
        return copyTruncated(fallback, buffer, size);
    return copyTruncated(withoutQuotes(profile.lines[*at.key].value), buffer, size);
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName) {
    if (!isStorableRequest(section, key, value, fileName))
        return false;
    const std::optional<std::string> target = writeTarget(fileName);
    if (!target)
        return false;
    const FileDescriptor folder(
        ::open(directoryOf(*target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0 || !lockFolder(folder.get()))
        return false;
    ReadError error{};
    const std::optional<FileContent> existing = readRegularFile(target->c_str(), &error);
    if (existing ? !mayReplace(*target, *existing) : error != ReadError::Missing)
        return false;
    const std::optional<std::string> content =
        withValue(existing ? std::string_view(existing->bytes) : std::string_view(), trim(section),
                  trim(key), value);
    if (!content)
        return true;
    return replaceAtomically(*target, folder.get(), *content, existing);
}
