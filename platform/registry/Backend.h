#pragma once

// What the registry calls need of a store (internal to the registry layer). Calls come in with
// the registry's lock held, so a backend needs no lock of its own.

#include "platform/registry/Hive.h"
#include "platform/registry/Stores.h"

#include <functional>
#include <memory>

namespace registry {

class Backend {
public:
    virtual ~Backend() = default;
    // A copy of the key as the caller sees it (all layers merged), or nullopt when none holds it.
    virtual std::optional<Key> read(std::string_view fullPath) = 0;
    virtual bool mayWrite(HKEY root) = 0;
    // Applies `change` to the layer that receives this caller's writes under `root` and keeps
    // the result when `change` returns ERROR_SUCCESS; otherwise the layer stays as it was.
    virtual LONG modify(HKEY root, const std::function<LONG(Hive&)>& change) = 0;
};

std::unique_ptr<Backend> makeFileBackend(const FileStorePaths& paths);
// Switches a file backend to system-wide install mode; false when it may not.
bool enableSystemWide(Backend& backend, bool on);

// Makes `store` the one every registry call uses from now on. Thread-safe; open handles stay
// valid (they hold paths, not keys).
void useStore(std::unique_ptr<Backend> store);
// Runs `visit` on the store in use, with the registry's lock held.
void visitStore(const std::function<void(Backend&)>& visit);

} // namespace registry
