#pragma once

// Keys computed from the desktop rather than stored: for example the web browser's open command,
// which on this system comes from the desktop's default browser, not from a registry file.

#include "platform/registry/Registry.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace registry {

struct ProvidedValue {
    std::string name; // empty: the key's default value
    DWORD type;       // REG_SZ data carries its terminating zero byte
    std::vector<BYTE> data;
};

// Returns the key's values in enumeration order, or nullopt when the key does not exist now.
using KeyProvider = std::function<std::optional<std::vector<ProvidedValue>>()>;

// Makes `path` under `root` a computed key. The provider is consulted only when no store holds
// the key, once per RegOpenKeyExA (the handle keeps what it returned). A provided key describes
// the user's own desktop, so an open asking for write rights succeeds (callers that open with a
// write-capable mask only to read, as the About box does, find it), but every write through it
// is refused with ERROR_ACCESS_DENIED. A later call for the same key (case-insensitive)
// replaces the provider; an empty provider removes it.
// Thread-safe; the provider runs on the caller's thread with no registry lock held.
void provideKey(HKEY root, std::string path, KeyProvider provider);

} // namespace registry
