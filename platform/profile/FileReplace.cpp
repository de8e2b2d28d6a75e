#include "platform/profile/FileReplace.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace profile {
namespace {

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
        static_cast<unsigned long long>(info.st_size) > kMaxFileBytes) {
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
        if (got < 0 || content.bytes.size() + std::size_t(got) > kMaxFileBytes) {
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
// short gaps between another writer's writes. Gives up after kLockWait, whoever holds the
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
    return wait->over.wait_for(lock, kLockWait, [&] { return wait->finished; }) && wait->locked;
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

} // namespace

std::optional<std::string> readWhole(const char* path) {
    ReadError error{};
    std::optional<FileContent> file = readRegularFile(path, &error);
    if (!file)
        return std::nullopt;
    return std::move(file->bytes);
}

bool replaceWhole(const char* fileName, const Edit& edit) {
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
        edit(existing ? std::string_view(existing->bytes) : std::string_view());
    return !content || replaceAtomically(*target, folder.get(), *content, existing);
}

} // namespace profile
