#include "platform/com/Runtime.h"

#include "platform/com/Server.h"
#include "platform/registry/Registry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <link.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace com {

namespace {

thread_local std::string t_lastError;

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT (*)();
using AbiVersionFn = std::uint32_t (*)();

struct Library {
    void* handle = nullptr;
    GetClassObjectFn getClassObject = nullptr;
    CanUnloadNowFn canUnloadNow = nullptr;
    int callsOut = 0; // calls into it under way, made with the lock released: it stays loaded
};

struct Libraries {
    std::mutex lock;
    std::map<std::string, Library> byPath;
};

Libraries& libraries() {
    static Libraries* instance = new Libraries; // never destroyed: libraries stay until exit
    return *instance;
}

HRESULT fail(HRESULT result, std::string text) {
    t_lastError = std::move(text);
    return result;
}

// Refuses the library at `path` for `why`: nullopt, with lastError() saying so and `failure` set.
std::nullopt_t refuse(HRESULT* failure, HRESULT result, const std::string& path,
                      const std::string& why) {
    *failure = fail(result, (result == E_ACCESSDENIED ? "refusing to load " : "cannot load ") +
                                path + ": " + why);
    return std::nullopt;
}

bool isRootsOrOurs(const struct stat& info) {
    return info.st_uid == 0 || info.st_uid == ::geteuid();
}

bool othersMayWrite(const struct stat& info) {
    return info.st_mode & (S_IWGRP | S_IWOTH);
}

// Why users other than root and the one running us could replace `entry` in `folder`, or
// nullopt. A sticky folder of root's or ours (/tmp) lets others add entries but not rename or
// remove anyone else's, so there it is enough that the entry is root's or ours.
std::optional<std::string> replaceableByOthers(const std::filesystem::path& folderPath,
                                               const struct stat& folder,
                                               const std::filesystem::path& entryPath,
                                               const struct stat& entry) {
    if (!othersMayWrite(folder))
        return std::nullopt;
    if (!(folder.st_mode & S_ISVTX) || !isRootsOrOurs(folder))
        return folderPath.string() + " may be changed by users other than its owner and root";
    if (!isRootsOrOurs(entry))
        return entryPath.string() + " belongs to another user, in a folder open to all";
    return std::nullopt;
}

// The path as the kernel would resolve it, and what lstat says of the file it leads to.
struct CheckedPath {
    std::filesystem::path real;
    struct stat file {};
};

// Follows the registered path element by element, reading every link on the way itself, so that
// each folder and link the kernel would pass through is checked, not only the folders of the
// path links lead to.
std::optional<CheckedPath> checkedPath(const std::string& path, HRESULT* failure) {
    namespace fs = std::filesystem;
    constexpr int kMaxLinks = 40; // as the kernel allows
    if (path.empty() || path.front() != '/')
        return refuse(failure, CO_E_DLLNOTFOUND, path, "not an absolute path");
    const fs::path elements = fs::path(path).relative_path();
    std::deque<fs::path> ahead(elements.begin(), elements.end());
    CheckedPath root{"/"};
    if (::lstat("/", &root.file) != 0)
        return refuse(failure, CO_E_DLLNOTFOUND, path, std::strerror(errno));
    CheckedPath at = root;
    int links = 0;
    while (!ahead.empty()) {
        const fs::path name = ahead.front();
        ahead.pop_front();
        if (name.empty() || name == ".")
            continue;
        const fs::path next = name == ".." ? at.real.parent_path() : at.real / name;
        struct stat entry {};
        if (::lstat(next.c_str(), &entry) != 0)
            return refuse(failure, CO_E_DLLNOTFOUND, path, std::strerror(errno));
        if (const auto why = replaceableByOthers(at.real, at.file, next, entry))
            return refuse(failure, E_ACCESSDENIED, path, *why);
        if (!S_ISLNK(entry.st_mode)) {
            at = {next, entry};
            continue;
        }
        std::error_code error;
        const fs::path target = fs::read_symlink(next, error);
        if (error || ++links > kMaxLinks)
            return refuse(failure, CO_E_DLLNOTFOUND, path,
                          error ? error.message() : std::strerror(ELOOP));
        const fs::path inTarget = target.relative_path();
        ahead.insert(ahead.begin(), inTarget.begin(), inTarget.end());
        if (target.is_absolute())
            at = root;
    }
    if (!S_ISREG(at.file.st_mode))
        return refuse(failure, CO_E_DLLNOTFOUND, path, "not a regular file");
    return at;
}

// The checked file, opened: refused unless it is the very file the path led to, owned by root
// or us, and no one else may write it. Opening a link or a FIFO put there meanwhile neither
// follows nor waits.
std::optional<int> openedLibrary(const std::string& path, const CheckedPath& checked,
                                 HRESULT* failure) {
    const int fd = ::open(checked.real.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        const int why = errno;
        if (fd >= 0)
            ::close(fd);
        return refuse(failure, CO_E_DLLNOTFOUND, path, std::strerror(why));
    }
    const char* why = nullptr;
    if (info.st_dev != checked.file.st_dev || info.st_ino != checked.file.st_ino)
        why = " was replaced while it was checked";
    else if (!isRootsOrOurs(info))
        why = " belongs to another user";
    else if (othersMayWrite(info))
        why = " may be changed by users other than its owner and root";
    if (!why)
        return fd;
    ::close(fd);
    return refuse(failure, E_ACCESSDENIED, path, checked.real.string() + why);
}

// dlopen maps a library's segments without asking whether the file holds them, and the first
// touch of a page past the end of the file kills the process with SIGBUS. So a library cut short
// (an interrupted copy, a full disk) is caught here, before dlopen; whatever else is wrong with
// a file (not ELF, another class, unreadable) dlopen reports by itself.
bool segmentsEndPastTheFile(int fd) {
    constexpr unsigned char kNativeClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
    struct stat info {};
    ElfW(Ehdr) header{};
    if (::fstat(fd, &info) != 0 || ::pread(fd, &header, sizeof header, 0) != sizeof header ||
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != kNativeClass || header.e_phentsize != sizeof(ElfW(Phdr)))
        return false;
    const auto size = static_cast<std::uint64_t>(info.st_size);
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        ElfW(Phdr) segment{};
        const off_t at = static_cast<off_t>(header.e_phoff + i * sizeof segment);
        if (::pread(fd, &segment, sizeof segment, at) != sizeof segment)
            return false; // dlopen finds the header table short itself
        if (segment.p_type == PT_LOAD &&
            (segment.p_filesz > size || segment.p_offset > size - segment.p_filesz))
            return true;
    }
    return false;
}

std::string nameOf(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// The loader adds the name a library was opened by to its names, also when that library was
// loaded already; so the descriptor may only go once the file is no longer loaded at all.
void closeUnlessStillLoaded(int fd) {
    if (void* loaded = dlopen(nameOf(fd).c_str(), RTLD_LAZY | RTLD_NOLOAD))
        dlclose(loaded);
    else
        ::close(fd);
}

// Loads the checked file through its descriptor, so that what runs is what was checked even if
// the path meanwhile leads elsewhere. Said first on stderr, before the library's own code first
// runs, so that one that ends the process from its constructors is named.
void* loadedThrough(int fd, const std::filesystem::path& real, const std::string& path,
                    HRESULT* failure) {
    std::fprintf(stderr, "quiva: loading component library %s\n", real.c_str());
    dlerror();
    void* handle = dlopen(nameOf(fd).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        *failure = fail(CO_E_DLLNOTFOUND, "cannot load " + path + ": " + (why ? why : "unknown"));
    }
    return handle;
}

// S_OK when a loaded library serves this runtime: its ABI and the exports it needs.
HRESULT checkExports(void* handle, const std::string& path) {
    auto abiVersion = reinterpret_cast<AbiVersionFn>(dlsym(handle, "QuivaComAbiVersion"));
    if (!abiVersion)
        return fail(CO_E_WRONG_ABI, path + " is not a component library of this runtime "
                                           "(no QuivaComAbiVersion export)");
    if (const std::uint32_t version = abiVersion(); version != kAbiVersion)
        return fail(CO_E_WRONG_ABI, path + " was built for component ABI " +
                                        std::to_string(version) + ", this program uses " +
                                        std::to_string(kAbiVersion));
    for (const char* name : {"DllGetClassObject", "DllCanUnloadNow"}) {
        if (!dlsym(handle, name))
            return fail(CO_E_ERRORINDLL, path + " does not export " + name);
    }
    return S_OK;
}

// The loaded library for a path, loading and checking it on first use. Lock held by caller.
Library* libraryFor(const std::string& path, HRESULT* failure) {
    auto& byPath = libraries().byPath;
    if (auto found = byPath.find(path); found != byPath.end())
        return &found->second;
    void* handle = loadServerLibrary(path, failure);
    if (!handle)
        return nullptr;
    Library library{handle, reinterpret_cast<GetClassObjectFn>(dlsym(handle, "DllGetClassObject")),
                    reinterpret_cast<CanUnloadNowFn>(dlsym(handle, "DllCanUnloadNow"))};
    return &byPath.emplace(path, library).first->second;
}

// The library for a path with a call into it counted, so that it stays loaded while the call
// runs with the lock released, until leaveLibrary().
Library* enterLibrary(const std::string& path, HRESULT* failure) {
    std::lock_guard guard(libraries().lock);
    Library* library = libraryFor(path, failure);
    if (library)
        ++library->callsOut;
    return library;
}

void leaveLibrary(Library& library) {
    std::lock_guard guard(libraries().lock);
    --library.callsOut;
}

} // namespace

std::optional<std::string> readDefaultText(const std::string& path) {
    HKEY key = 0;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    char buffer[4096] = {};
    DWORD size = sizeof buffer - 1;
    DWORD type = 0;
    const LONG result =
        RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    return std::string(buffer);
}

std::string lastError() {
    return t_lastError;
}
void setLastError(std::string text) {
    t_lastError = std::move(text);
}

std::string inprocServerKey(REFCLSID clsid) {
    return "CLSID\\" + toString(clsid) + "\\InprocServer32";
}

void* loadServerLibrary(const std::string& path, HRESULT* failure) {
    HRESULT ignored;
    HRESULT& result = failure ? *failure : ignored;
    const auto checked = checkedPath(path, &result);
    const auto fd = checked ? openedLibrary(path, *checked, &result) : std::nullopt;
    if (!fd)
        return nullptr;
    void* handle = nullptr;
    if (segmentsEndPastTheFile(*fd))
        result = fail(CO_E_ERRORINDLL, "cannot load " + path + ": the file is cut short");
    else
        handle = loadedThrough(*fd, checked->real, path, &result);
    if (handle && SUCCEEDED(result = checkExports(handle, path))) {
        t_lastError.clear();
        return handle; // *fd stays open: the loader knows the library by its number
    }
    if (!handle) {
        ::close(*fd);
        return nullptr;
    }
    dlclose(handle);
    closeUnlessStillLoaded(*fd);
    return nullptr;
}

} // namespace com

using namespace com;

HRESULT CoGetClassObject(REFCLSID clsid, DWORD, void*, REFIID iid, void** object) {
    if (!object)
        return fail(E_POINTER, "no place for the class object");
    *object = nullptr;
    const std::string name = toString(clsid);
    HKEY key = 0;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ("CLSID\\" + name).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return fail(REGDB_E_CLASSNOTREG, "class " + name + " is not registered");
    RegCloseKey(key);
    const auto path = readDefaultText(com::inprocServerKey(clsid));
    if (!path || path->empty())
        return fail(REGDB_E_CLASSNOTREG, "class " + name + " has no in-process server registered");
    HRESULT failure = S_OK;
    Library* library = enterLibrary(*path, &failure);
    if (!library)
        return failure;
    // Unlocked: a factory may make objects of other classes through this runtime.
    const HRESULT result = library->getClassObject(clsid, iid, object);
    leaveLibrary(*library);
    if (FAILED(result))
        return fail(result, *path + " does not give out class " + name + ": " + describe(result));
    t_lastError.clear();
    return result;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                         void** object) {
    if (!object)
        return fail(E_POINTER, "no place for the object");
    *object = nullptr;
    if (outer)
        return fail(CLASS_E_NOAGGREGATION, "objects here cannot be aggregated");
    ComPtr<IClassFactory> factory;
    const HRESULT got =
        CoGetClassObject(clsid, context, nullptr, IClassFactory::kIid, factory.putVoid());
    if (FAILED(got))
        return got;
    const HRESULT created = factory->CreateInstance(nullptr, iid, object);
    if (FAILED(created))
        return fail(created, "class " + toString(clsid) +
                                 " could not create the object: " + describe(created));
    t_lastError.clear();
    return created;
}

HRESULT CLSIDFromProgID(const char* progId, CLSID* clsid) {
    if (!progId || !clsid)
        return fail(E_POINTER, "no ProgID");
    const auto text = readDefaultText(std::string(progId) + "\\CLSID");
    const auto parsed = text ? parseGuid(*text) : std::nullopt;
    if (!parsed)
        return fail(CO_E_CLASSSTRING, std::string("ProgID ") + progId + " is not registered");
    *clsid = *parsed;
    t_lastError.clear();
    return S_OK;
}

HRESULT CLSIDFromString(const char* text, CLSID* clsid) {
    if (!text || !clsid)
        return fail(E_POINTER, "no class text");
    if (text[0] == '{') {
        const auto parsed = parseGuid(text);
        if (!parsed)
            return fail(CO_E_CLASSSTRING, std::string(text) + " is not a class identifier");
        *clsid = *parsed;
        return S_OK;
    }
    return CLSIDFromProgID(text, clsid);
}

void CoFreeUnusedLibraries() {
    std::lock_guard guard(libraries().lock);
    std::erase_if(libraries().byPath, [](auto& entry) {
        const Library& library = entry.second;
        if (library.callsOut > 0 || library.canUnloadNow() != S_OK)
            return false;
        dlclose(library.handle);
        return true;
    });
}
