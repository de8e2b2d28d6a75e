#include "platform/com/Runtime.h"

#include "platform/com/Server.h"
#include "platform/registry/Registry.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// dlopen maps a library's segments without asking whether the file holds them, and the first
// touch of a page past the end of the file kills the process with SIGBUS. So a library cut short
// (an interrupted copy, a full disk) is caught here, before dlopen; whatever else is wrong with
// a file (not ELF, another class, unreadable) dlopen reports by itself.
bool segmentsEndPastTheFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    constexpr unsigned char kNativeClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
    struct stat info {};
    ElfW(Ehdr) header{};
    bool cut = false;
    if (::fstat(fd, &info) == 0 && ::pread(fd, &header, sizeof header, 0) == sizeof header &&
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
        header.e_ident[EI_CLASS] == kNativeClass && header.e_phentsize == sizeof(ElfW(Phdr))) {
        const auto size = static_cast<std::uint64_t>(info.st_size);
        for (unsigned i = 0; i < header.e_phnum && !cut; ++i) {
            ElfW(Phdr) segment{};
            const off_t at = static_cast<off_t>(header.e_phoff + i * sizeof segment);
            if (::pread(fd, &segment, sizeof segment, at) != sizeof segment)
                break; // dlopen finds the header table short itself
            cut = segment.p_type == PT_LOAD &&
                  (segment.p_filesz > size || segment.p_offset > size - segment.p_filesz);
        }
    }
    ::close(fd);
    return cut;
}

// Whether users other than the owner and root may change what `info` describes. A folder with
// the sticky bit that belongs to root (/tmp) lets others add entries but not rename or remove
// anyone else's, so it is no way in.
bool othersMayWrite(const struct stat& info) {
    if (!(info.st_mode & (S_IWGRP | S_IWOTH)))
        return false;
    return !(S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) && info.st_uid == 0);
}

// The real path of a library that may be loaded: an absolute path of a regular file that no
// user but its owner and root can change, nor any folder on its way. Otherwise nullopt, with
// lastError() saying why and `failure` set.
std::optional<std::string> trustedLibraryPath(const std::string& path, HRESULT* failure) {
    if (path.empty() || path.front() != '/') {
        *failure = fail(CO_E_DLLNOTFOUND, "cannot load " + path + ": not an absolute path");
        return std::nullopt;
    }
    char real[PATH_MAX];
    struct stat info {};
    if (!::realpath(path.c_str(), real) || ::stat(real, &info) != 0) {
        *failure = fail(CO_E_DLLNOTFOUND, "cannot load " + path + ": " + std::strerror(errno));
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        *failure = fail(CO_E_DLLNOTFOUND, "cannot load " + path + ": not a regular file");
        return std::nullopt;
    }
    std::filesystem::path step;
    for (const auto& element : std::filesystem::path(real)) {
        step /= element;
        if (::lstat(step.c_str(), &info) != 0 || othersMayWrite(info)) {
            *failure = fail(E_ACCESSDENIED, "refusing to load " + path + ": " + step.string() +
                                                " may be changed by users other than its owner "
                                                "and root");
            return std::nullopt;
        }
    }
    return std::string(real);
}

// The loaded library for a path, loading and checking it on first use. Lock held by caller.
const Library* libraryFor(const std::string& path, HRESULT* failure) {
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

void* loadServerLibrary(const std::string& path, HRESULT* failure) {
    HRESULT ignored;
    HRESULT& result = failure ? *failure : ignored;
    const auto trusted = trustedLibraryPath(path, &result);
    if (!trusted)
        return nullptr;
    if (segmentsEndPastTheFile(*trusted)) {
        result = fail(CO_E_ERRORINDLL, "cannot load " + path + ": the file is cut short");
        return nullptr;
    }
    // Said before the library's own code first runs, so that one that ends the process from its
    // constructors is named.
    std::fprintf(stderr, "quiva: loading component library %s\n", trusted->c_str());
    dlerror();
    void* handle = dlopen(trusted->c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        result = fail(CO_E_DLLNOTFOUND, "cannot load " + path + ": " + (why ? why : "unknown"));
        return nullptr;
    }
    auto abiVersion = reinterpret_cast<AbiVersionFn>(dlsym(handle, "QuivaComAbiVersion"));
    if (!abiVersion) {
        dlclose(handle);
        result = fail(CO_E_WRONG_ABI, path + " is not a component library of this runtime "
                                             "(no QuivaComAbiVersion export)");
        return nullptr;
    }
    if (const std::uint32_t version = abiVersion(); version != kAbiVersion) {
        dlclose(handle);
        result =
            fail(CO_E_WRONG_ABI, path + " was built for component ABI " + std::to_string(version) +
                                     ", this program uses " + std::to_string(kAbiVersion));
        return nullptr;
    }
    for (const char* name : {"DllGetClassObject", "DllCanUnloadNow"}) {
        if (!dlsym(handle, name)) {
            dlclose(handle);
            result = fail(CO_E_ERRORINDLL, path + " does not export " + name);
            return nullptr;
        }
    }
    result = S_OK;
    t_lastError.clear();
    return handle;
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
    const auto path = readDefaultText("CLSID\\" + name + "\\InprocServer32");
    if (!path || path->empty())
        return fail(REGDB_E_CLASSNOTREG, "class " + name + " has no in-process server registered");
    std::lock_guard guard(libraries().lock);
    HRESULT failure = S_OK;
    const Library* library = libraryFor(*path, &failure);
    if (!library)
        return failure;
    const HRESULT result = library->getClassObject(clsid, iid, object);
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
        if (library.canUnloadNow() != S_OK)
            return false;
        dlclose(library.handle);
        return true;
    });
}
