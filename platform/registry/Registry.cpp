// The registry calls over the current store (Stores.h) and the computed keys (Providers.h).
// One lock guards the handle table, the store and the providers; providers run outside it.

#include "platform/registry/Registry.h"

#include "platform/registry/Backend.h"
#include "platform/registry/Providers.h"
#include "platform/registry/Stores.h"

#include <cstring>
#include <map>
#include <mutex>

namespace registry {

namespace {

constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK;
constexpr DWORD kCreatedNewKey = 1;
constexpr DWORD kOpenedExistingKey = 2;

struct OpenKey {
    HKEY root = 0;
    std::string path; // full path, root name first
    REGSAM access = 0;
    std::optional<Key> provided; // what a provider answered when the key was opened
};

struct State {
    std::mutex lock;
    std::unique_ptr<Backend> backend;
    std::map<HKEY, OpenKey> handles;
    HKEY nextHandle = 0x100;
    std::map<std::string, KeyProvider> providers; // by lowered full path

    Backend& store() {
        if (!backend)
            backend = makeFileBackend(defaultFileStorePaths());
        return *backend;
    }

    std::optional<OpenKey> find(HKEY handle) {
        if (const std::string_view name = rootName(handle); !name.empty())
            return OpenKey{handle, std::string(name), KEY_ALL_ACCESS, std::nullopt};
        auto found = handles.find(handle);
        return found == handles.end() ? std::nullopt : std::optional<OpenKey>(found->second);
    }

    HKEY add(OpenKey key) {
        while (handles.contains(nextHandle) || !rootName(nextHandle).empty() || nextHandle == 0)
            ++nextHandle;
        handles.emplace(nextHandle, std::move(key));
        return nextHandle++;
    }

    // The key's values now, or nullopt when it has gone.
    std::optional<Key> content(const OpenKey& key) {
        if (key.provided)
            return key.provided;
        if (key.path == rootName(key.root))
            return Key{key.path, {}};
        return store().read(key.path);
    }

    // The values of an open handle that may query them; otherwise the call's error number.
    LONG readableContent(HKEY handle, std::optional<Key>* content) {
        const auto open = find(handle);
        if (!open)
            return ERROR_INVALID_HANDLE;
        if (!(open->access & KEY_QUERY_VALUE))
            return ERROR_ACCESS_DENIED;
        *content = this->content(*open);
        return *content ? ERROR_SUCCESS : ERROR_KEY_DELETED;
    }
};

State& state() {
    static State instance;
    return instance;
}

bool isRootPath(const OpenKey& base, const std::string& path) {
    return path == rootName(base.root);
}

std::optional<Key> askProvider(const std::string& path) {
    KeyProvider provider;
    {
        std::lock_guard guard(state().lock);
        auto found = state().providers.find(lowered(path));
        if (found == state().providers.end())
            return std::nullopt;
        provider = found->second;
    }
    auto values = provider();
    if (!values)
        return std::nullopt;
    Key key{path, {}};
    for (ProvidedValue& value : *values)
        key.set(Value{std::move(value.name), value.type, std::move(value.data)});
    return key;
}

// Copies text or bytes into a caller's buffer under the classic size rules.
LONG copyOut(const Value& value, DWORD* type, BYTE* data, DWORD* dataBytes) {
    if (data && !dataBytes)
        return ERROR_INVALID_PARAMETER;
    if (type)
        *type = value.type;
    if (!dataBytes)
        return ERROR_SUCCESS;
    const auto needed = static_cast<DWORD>(value.data.size());
    const bool fits = needed <= *dataBytes;
    if (data && fits && needed > 0)
        std::memcpy(data, value.data.data(), needed);
    *dataBytes = needed;
    return data && !fits ? ERROR_MORE_DATA : ERROR_SUCCESS;
}

} // namespace

void provideKey(HKEY root, std::string path, KeyProvider provider) {
    const std::string fullPath = lowered(joinPath(rootName(root), path));
    std::lock_guard guard(state().lock);
    if (provider)
        state().providers[fullPath] = std::move(provider);
    else
        state().providers.erase(fullPath);
}

void clearProvidedKeys() {
    std::lock_guard guard(state().lock);
    state().providers.clear();
}

void useStore(std::unique_ptr<Backend> store) {
    std::lock_guard guard(state().lock);
    state().backend = std::move(store);
}

void visitStore(const std::function<void(Backend&)>& visit) {
    std::lock_guard guard(state().lock);
    visit(state().store());
}

void useFileStores(const FileStorePaths& paths) {
    useStore(makeFileBackend(paths));
}

bool setSystemWideInstall(bool on) {
    bool done = false;
    visitStore([&](Backend& store) { done = enableSystemWide(store, on); });
    return done;
}

} // namespace registry

using namespace registry;

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD, REGSAM access, HKEY* result) {
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = 0;
    State& s = state();
    std::string path;
    {
        std::lock_guard guard(s.lock);
        auto base = s.find(key);
        if (!base)
            return ERROR_INVALID_HANDLE;
        path = joinPath(base->path, subKey ? subKey : "");
        if (base->provided && path == base->path) {
            *result = s.add(OpenKey{base->root, path, access, base->provided});
            return ERROR_SUCCESS;
        }
        if (isRootPath(*base, path) || s.store().read(path)) {
            if ((access & kWriteRights) && !s.store().mayWrite(base->root))
                return ERROR_ACCESS_DENIED;
            *result = s.add(OpenKey{base->root, path, access, std::nullopt});
            return ERROR_SUCCESS;
        }
        key = base->root;
    }
    auto provided = askProvider(path);
    if (!provided)
        return ERROR_FILE_NOT_FOUND;
    std::lock_guard guard(s.lock);
    *result = s.add(OpenKey{key, path, access, std::move(provided)});
    return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameChars, DWORD*, DWORD* type,
                   BYTE* data, DWORD* dataBytes) {
    if (!name || !nameChars)
        return ERROR_INVALID_PARAMETER;
    State& s = state();
    std::lock_guard guard(s.lock);
    std::optional<Key> content;
    if (const LONG failure = s.readableContent(key, &content))
        return failure;
    if (index >= content->values.size())
        return ERROR_NO_MORE_ITEMS;
    const Value& value = content->values[index];
    if (value.name.size() + 1 > *nameChars)
        return ERROR_MORE_DATA;
    std::memcpy(name, value.name.c_str(), value.name.size() + 1);
    *nameChars = static_cast<DWORD>(value.name.size());
    return copyOut(value, type, data, dataBytes);
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD*, DWORD* type, BYTE* data,
                      DWORD* dataBytes) {
    State& s = state();
    std::lock_guard guard(s.lock);
    std::optional<Key> content;
    if (const LONG failure = s.readableContent(key, &content))
        return failure;
    const Value* value = content->find(valueName ? valueName : "");
    if (!value)
        return ERROR_FILE_NOT_FOUND;
    return copyOut(*value, type, data, dataBytes);
}

LONG RegCloseKey(HKEY key) {
    if (!rootName(key).empty())
        return ERROR_SUCCESS;
    std::lock_guard guard(state().lock);
    return state().handles.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD, char*, DWORD, REGSAM access, void*,
                     HKEY* result, DWORD* disposition) {
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = 0;
    State& s = state();
    std::lock_guard guard(s.lock);
    auto base = s.find(key);
    if (!base)
        return ERROR_INVALID_HANDLE;
    const std::string path = joinPath(base->path, subKey ? subKey : "");
    if (base->provided || isRootPath(*base, path))
        return ERROR_ACCESS_DENIED;
    const bool exists = s.store().read(path).has_value();
    if ((!exists || (access & kWriteRights)) && !s.store().mayWrite(base->root))
        return ERROR_ACCESS_DENIED;
    if (!exists) {
        const LONG created = s.store().modify(base->root, [&](Hive& hive) {
            hive.create(path);
            return ERROR_SUCCESS;
        });
        if (created != ERROR_SUCCESS)
            return created;
    }
    if (disposition)
        *disposition = exists ? kOpenedExistingKey : kCreatedNewKey;
    *result = s.add(OpenKey{base->root, path, access, std::nullopt});
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD, DWORD type, const BYTE* data,
                    DWORD dataBytes) {
    if (!data && dataBytes > 0)
        return ERROR_INVALID_PARAMETER;
    State& s = state();
    std::lock_guard guard(s.lock);
    auto open = s.find(key);
    if (!open)
        return ERROR_INVALID_HANDLE;
    if (!(open->access & KEY_SET_VALUE) || open->provided || isRootPath(*open, open->path) ||
        !s.store().mayWrite(open->root))
        return ERROR_ACCESS_DENIED;
    if (!s.store().read(open->path))
        return ERROR_KEY_DELETED;
    Value value{valueName ? valueName : "", type, std::vector<BYTE>(data, data + dataBytes)};
    return s.store().modify(open->root, [&](Hive& hive) {
        hive.create(open->path).set(std::move(value));
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValueA(HKEY key, const char* valueName) {
    const std::string name = valueName ? valueName : "";
    State& s = state();
    std::lock_guard guard(s.lock);
    auto open = s.find(key);
    if (!open)
        return ERROR_INVALID_HANDLE;
    if (!(open->access & KEY_SET_VALUE) || open->provided || !s.store().mayWrite(open->root))
        return ERROR_ACCESS_DENIED;
    const LONG result = s.store().modify(open->root, [&](Hive& hive) {
        Key* held = hive.find(open->path);
        return held && held->erase(name) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
    auto content = s.content(*open);
    if (content && content->find(name))
        return ERROR_ACCESS_DENIED; // a lower, read-only layer still holds it
    return result;
}

LONG RegDeleteTreeA(HKEY key, const char* subKey) {
    State& s = state();
    std::lock_guard guard(s.lock);
    auto base = s.find(key);
    if (!base)
        return ERROR_INVALID_HANDLE;
    const std::string path = joinPath(base->path, subKey ? subKey : "");
    if (base->provided || isRootPath(*base, path) || !s.store().mayWrite(base->root))
        return ERROR_ACCESS_DENIED;
    const LONG result = s.store().modify(base->root, [&](Hive& hive) {
        return hive.eraseTree(path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
    if (s.store().read(path))
        return ERROR_ACCESS_DENIED;
    return result;
}
