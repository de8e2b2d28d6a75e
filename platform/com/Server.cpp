#include "platform/com/Server.h"

#include "platform/com/Runtime.h"
#include "platform/registry/Registry.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

namespace com {

namespace {

// Sets the default value (`name` empty) or a named text value of a key, creating the key.
LONG setText(const std::string& path, const std::string& name, const std::string& text) {
    HKEY key = 0;
    LONG result = RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS)
        return result;
    result =
        RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
    return result;
}

LONG createKey(const std::string& path) {
    HKEY key = 0;
    const LONG result = RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                        nullptr, &key, nullptr);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    return result;
}

struct Entry {
    std::string path;
    std::string name;
    std::optional<std::string> text; // nullopt: the key alone
};

std::vector<Entry> entriesOf(const ClassRegistration& reg) {
    const std::string clsidKey = "CLSID\\" + toString(reg.clsid);
    std::vector<Entry> entries{
        {clsidKey, "", reg.description},
        {com::inprocServerKey(reg.clsid), "", reg.libraryPath},
        {com::inprocServerKey(reg.clsid), "ThreadingModel", reg.threadingModel},
    };
    if (!reg.progId.empty()) {
        entries.push_back({clsidKey + "\\ProgID", "", reg.progId});
        entries.push_back({reg.progId, "", reg.description});
        entries.push_back({reg.progId + "\\CLSID", "", toString(reg.clsid)});
    }
    if (reg.control)
        entries.push_back({clsidKey + "\\Control", "", std::nullopt});
    if (reg.toolboxBitmapId != 0)
        entries.push_back({clsidKey + "\\ToolboxBitmap32", "",
                           reg.libraryPath + ", " + std::to_string(reg.toolboxBitmapId)});
    if (reg.typeLib != GUID_NULL) {
        const std::string libKey = "TypeLib\\" + toString(reg.typeLib);
        const std::string versionKey = libKey + "\\" + reg.typeLibVersion;
        entries.push_back({clsidKey + "\\TypeLib", "", toString(reg.typeLib)});
        entries.push_back({clsidKey + "\\Version", "", reg.typeLibVersion});
        entries.push_back({versionKey, "", reg.typeLibName});
        entries.push_back({versionKey + "\\" + reg.typeLibLocale + "\\linux", "", reg.libraryPath});
        entries.push_back({versionKey + "\\FLAGS", "", std::to_string(reg.typeLibFlags)});
    }
    return entries;
}

std::vector<std::string> treesOf(const ClassRegistration& reg) {
    std::vector<std::string> trees{"CLSID\\" + toString(reg.clsid)};
    if (!reg.progId.empty())
        trees.push_back(reg.progId);
    if (reg.typeLib != GUID_NULL)
        trees.push_back("TypeLib\\" + toString(reg.typeLib));
    return trees;
}

// The first entry that still sends the class or its type library to this library, as this
// process reads the registry; another library's registration (a build's, in a user's own store)
// is not this one's to remove.
std::optional<std::string> entryNamingTheLibrary(const ClassRegistration& reg) {
    for (const Entry& entry : entriesOf(reg))
        if (entry.name.empty() && entry.text == reg.libraryPath &&
            readDefaultText(entry.path) == reg.libraryPath)
            return entry.path;
    return std::nullopt;
}

HRESULT refused(const std::string& what, LONG error) {
    setLastError("the registry refused " + what + " (error " + std::to_string(error) + ")");
    return SELFREG_E_CLASS;
}

} // namespace

HRESULT getClassObject(ModuleCount& module, REFCLSID served, ClassFactory::Make make,
                       REFCLSID clsid, REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (clsid != served)
        return CLASS_E_CLASSNOTAVAILABLE;
    auto factory = ComPtr<IClassFactory>::adopt(new ClassFactory(module, std::move(make)));
    return factory->QueryInterface(iid, out);
}

std::string libraryPathOf(const void* address) {
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname)
        return {};
    char resolved[PATH_MAX];
    return realpath(info.dli_fname, resolved) ? std::string(resolved) : info.dli_fname;
}

HRESULT registerServer(const ClassRegistration& registration) {
    if (registration.libraryPath.empty() || registration.libraryPath.front() != '/')
        return refused("a library path that is not absolute", ERROR_INVALID_PARAMETER);
    for (const Entry& entry : entriesOf(registration)) {
        const LONG result =
            entry.text ? setText(entry.path, entry.name, *entry.text) : createKey(entry.path);
        if (result != ERROR_SUCCESS)
            return refused("HKEY_CLASSES_ROOT\\" + entry.path, result);
    }
    return S_OK;
}

// Every tree is tried even when one is refused (a key this process may not remove, or one that
// another store still holds), and each refusal is said on stderr.
HRESULT unregisterServer(const ClassRegistration& registration) {
    for (const std::string& tree : treesOf(registration)) {
        const LONG result = RegDeleteTreeA(HKEY_CLASSES_ROOT, tree.c_str());
        if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
            std::fprintf(stderr, "quiva: HKEY_CLASSES_ROOT\\%s is still registered (error %ld)\n",
                         tree.c_str(), static_cast<long>(result));
    }
    if (const auto left = entryNamingTheLibrary(registration))
        return refused("removing HKEY_CLASSES_ROOT\\" + *left, ERROR_ACCESS_DENIED);
    return S_OK;
}

} // namespace com
