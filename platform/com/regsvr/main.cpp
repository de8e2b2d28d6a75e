// quiva-regsvr: registers (DllRegisterServer) or unregisters (DllUnregisterServer) the classes
// of an in-process server library in the registry.
//
//   quiva-regsvr [-u] [--system] LIBRARY
//
// --system writes the system-wide registry file (root only) instead of the per-user one.
// Exit status: 0 done, 1 the library could not be loaded or refused, 2 bad usage.

#include "platform/com/Runtime.h"
#include "platform/registry/Stores.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <string>

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

int usage() {
    std::fprintf(stderr, "usage: quiva-regsvr [-u] [--system] LIBRARY\n");
    return kUsage;
}

} // namespace

int main(int argc, char** argv) {
    bool unregister = false;
    bool systemWide = false;
    const char* library = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-u") == 0)
            unregister = true;
        else if (std::strcmp(argv[i], "--system") == 0)
            systemWide = true;
        else if (argv[i][0] != '-' && !library)
            library = argv[i];
        else
            return usage();
    }
    if (!library)
        return usage();
    if (systemWide && !registry::setSystemWideInstall(true)) {
        std::fprintf(stderr, "quiva-regsvr: may not write the system-wide registry\n");
        return kFailed;
    }
    std::error_code error;
    const std::string path = std::filesystem::absolute(library, error).string();
    HRESULT loaded = S_OK;
    void* handle = com::loadServerLibrary(path, &loaded);
    if (!handle) {
        std::fprintf(stderr, "quiva-regsvr: %s\n", com::lastError().c_str());
        return kFailed;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto call = reinterpret_cast<HRESULT (*)()>(dlsym(handle, entry));
    if (!call) {
        std::fprintf(stderr, "quiva-regsvr: %s does not export %s\n", path.c_str(), entry);
        dlclose(handle);
        return kFailed;
    }
    const HRESULT result = call();
    if (FAILED(result)) {
        const std::string detail = com::lastError();
        std::fprintf(stderr, "quiva-regsvr: %s in %s failed: %s%s%s\n", entry, path.c_str(),
                     com::describe(result).c_str(), detail.empty() ? "" : "; ", detail.c_str());
        dlclose(handle);
        return kFailed;
    }
    std::printf("%s: %s succeeded\n", path.c_str(), entry);
    dlclose(handle);
    return kDone;
}
