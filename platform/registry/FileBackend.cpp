// The registry's real store: a per-user and a system-wide REGEDIT4 file (see Stores.h).

#include "platform/registry/Backend.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <pwd.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace registry {

namespace {

// Damage is reported once per file per process, however often the file is read.
void reportDamageOnce(const std::string& path, const std::string& problem) {
    static std::set<std::string> reported;
    if (reported.insert(path).second)
        std::fprintf(stderr, "quiva: registry file %s is damaged (%s); it is never rewritten\n",
                     path.c_str(), problem.c_str());
}

// What is at a store's path: its text, nothing (no such file: an empty store), or the reason
// why it cannot serve as a store. Opening never blocks (a FIFO is refused, not waited on), and
// nothing beyond kMaxRegistryFileBytes is ever read (a link to /dev/zero, a huge file).
struct FileText {
    std::optional<std::string> text;
    std::string problem;
};

FileText readStoreFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {std::nullopt,
                errno == ENOENT ? "" : std::string("cannot read it: ") + std::strerror(errno)};
    struct stat info {};
    FileText result;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        result.problem = "not a regular file; nothing of it is read";
    else if (static_cast<std::uint64_t>(info.st_size) > kMaxRegistryFileBytes)
        result.problem = "larger than " + std::to_string(kMaxRegistryFileBytes >> 20) +
                         " MiB; nothing of it is read";
    std::string text;
    char buffer[65536];
    while (result.problem.empty()) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) {
            result.text = std::move(text);
            break;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            result.problem = std::string("cannot read it: ") + std::strerror(errno);
        else if (text.size() + static_cast<std::size_t>(got) > kMaxRegistryFileBytes)
            result.problem = "it grew past the size limit while read; nothing of it is read";
        else
            text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return result;
}

bool writeWholeFile(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            ::close(fd);
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    const bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
}

// Holds an exclusive flock on "<file>.lock" for its life.
class FileLock {
public:
    explicit FileLock(const std::string& path)
        : m_fd(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        while (m_fd >= 0 && ::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FileLock() {
        if (m_fd >= 0)
            ::close(m_fd); // closing releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool held() const { return m_fd >= 0; }

private:
    int m_fd;
};

// One file with a parsed copy that is refreshed when the file changes on disk.
class HiveFile {
public:
    explicit HiveFile(std::string path) : m_path(std::move(path)) {}

    const Hive& current() {
        struct stat info {};
        const bool present = ::stat(m_path.c_str(), &info) == 0;
        const Signature now{present, info.st_ino, info.st_size, info.st_mtim.tv_sec,
                            info.st_mtim.tv_nsec};
        if (!m_loaded || now != m_signature) {
            load();
            m_signature = now;
            m_loaded = true;
        }
        return m_hive;
    }

    bool exists() const { return !m_path.empty(); }

    LONG modify(const std::function<LONG(Hive&)>& change) {
        if (!exists())
            return ERROR_ACCESS_DENIED;
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(m_path).parent_path(), ignored);
        FileLock lock(m_path);
        if (!lock.held())
            return ERROR_ACCESS_DENIED;
        m_loaded = false; // another process may have written since we last looked
        load();
        if (!m_problem.empty())
            return ERROR_BADDB;
        Hive changed = m_hive;
        const LONG result = change(changed);
        if (result != ERROR_SUCCESS)
            return result;
        const std::string temporary = m_path + ".tmp." + std::to_string(::getpid());
        if (!writeWholeFile(temporary, formatRegFile(changed)) ||
            ::rename(temporary.c_str(), m_path.c_str()) != 0) {
            ::unlink(temporary.c_str());
            return ERROR_ACCESS_DENIED;
        }
        m_hive = std::move(changed);
        return ERROR_SUCCESS;
    }

    bool folderWritable() const {
        const auto folder = std::filesystem::path(m_path).parent_path();
        std::error_code ignored;
        std::filesystem::create_directories(folder, ignored);
        return ::access(folder.c_str(), W_OK) == 0;
    }

private:
    struct Signature {
        bool exists = false;
        ino_t inode = 0;
        off_t size = 0;
        time_t seconds = 0;
        long nanoseconds = 0;
        bool operator==(const Signature&) const = default;
    };

    void load() {
        m_hive = Hive();
        m_problem.clear();
        if (m_path.empty())
            return;
        FileText file = readStoreFile(m_path);
        m_problem = std::move(file.problem);
        if (file.text) {
            ParsedHive parsed = parseRegFile(*file.text);
            m_hive = std::move(parsed.hive);
            m_problem = parsed.problem.empty() ? "" : parsed.problem + "; read up to there";
        }
        if (!m_problem.empty())
            reportDamageOnce(m_path, m_problem);
    }

    std::string m_path;
    Hive m_hive;
    std::string m_problem;
    Signature m_signature;
    bool m_loaded = false;
};

class FileBackend : public Backend {
public:
    explicit FileBackend(const FileStorePaths& paths)
        : m_perUser(paths.perUser), m_systemWide(paths.systemWide) {}

    std::optional<Key> read(std::string_view fullPath) override {
        const Key* user = m_perUser.current().find(fullPath);
        const Key* system = m_systemWide.current().find(fullPath);
        if (!system)
            return user ? std::optional<Key>(*user) : std::nullopt;
        Key merged = *system;
        if (user)
            for (const Value& value : user->values)
                merged.set(value);
        return merged;
    }

    bool mayWrite(HKEY root) override {
        if (root == HKEY_LOCAL_MACHINE && !m_systemWideMode)
            return false;
        if (writeTarget(root).exists())
            return true;
        reportNoPerUserStoreOnce();
        return false;
    }

    LONG modify(HKEY root, const std::function<LONG(Hive&)>& change) override {
        return writeTarget(root).modify(change);
    }

    bool setSystemWide(bool on) {
        if (on && !m_systemWide.folderWritable())
            return false;
        m_systemWideMode = on;
        return true;
    }

private:
    static void reportNoPerUserStoreOnce() {
        static std::once_flag reported;
        std::call_once(reported, [] {
            std::fprintf(stderr, "quiva: this user has no home folder, so there is no per-user "
                                 "registry file: nothing can be registered or saved in it\n");
        });
    }

    HiveFile& writeTarget(HKEY root) {
        return m_systemWideMode && root != HKEY_CURRENT_USER ? m_systemWide : m_perUser;
    }

    HiveFile m_perUser;
    HiveFile m_systemWide;
    bool m_systemWideMode = false;
};

} // namespace

std::unique_ptr<Backend> makeFileBackend(const FileStorePaths& paths) {
    return std::make_unique<FileBackend>(paths);
}

bool enableSystemWide(Backend& backend, bool on) {
    auto* files = dynamic_cast<FileBackend*>(&backend);
    return files ? files->setSystemWide(on) : true;
}

namespace {

// $HOME when it names a folder by absolute path, else the home of this user's entry in the
// password database when that folder exists; empty when there is none. Never a shared place
// such as /tmp, whose files anyone could have put there.
std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return home;
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->pw_dir || found->pw_dir[0] != '/')
        return {};
    std::error_code ignored;
    return std::filesystem::is_directory(found->pw_dir, ignored) ? found->pw_dir : "";
}

} // namespace

FileStorePaths defaultFileStorePaths() {
    const std::string systemWide = "/etc/quiva/registry.reg";
    if (const char* store = std::getenv(kPerUserStoreVariable); store && store[0] == '/')
        return {store, systemWide};
    std::string dataHome;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/')
        dataHome = xdg;
    else if (const std::string home = homeFolder(); !home.empty())
        dataHome = home + "/.local/share";
    return {dataHome.empty() ? "" : dataHome + "/quiva/registry.reg", systemWide};
}

} // namespace registry
