// The in-memory store for tests (Stores.h); built into quiva-platform-testing only.

#include "platform/registry/Backend.h"

#include <algorithm>

namespace registry {

namespace {

class MemoryBackend : public Backend {
public:
    std::optional<Key> read(std::string_view fullPath) override {
        const Key* key = m_hive.find(fullPath);
        return key ? std::optional<Key>(*key) : std::nullopt;
    }

    bool mayWrite(HKEY root) override {
        return std::find(m_readOnlyRoots.begin(), m_readOnlyRoots.end(), root) ==
               m_readOnlyRoots.end();
    }

    LONG modify(HKEY, const std::function<LONG(Hive&)>& change) override {
        Hive changed = m_hive;
        const LONG result = change(changed);
        if (result == ERROR_SUCCESS)
            m_hive = std::move(changed);
        return result;
    }

    void setWritable(HKEY root, bool writable) {
        std::erase(m_readOnlyRoots, root);
        if (!writable)
            m_readOnlyRoots.push_back(root);
    }

private:
    Hive m_hive;
    std::vector<HKEY> m_readOnlyRoots;
};

} // namespace

void useInMemoryStore() {
    useStore(std::make_unique<MemoryBackend>());
}

void setInMemoryRootWritable(HKEY root, bool writable) {
    visitStore([&](Backend& store) {
        if (auto* memory = dynamic_cast<MemoryBackend*>(&store))
            memory->setWritable(root, writable);
    });
}

ScopedInMemoryStore::ScopedInMemoryStore() {
    useInMemoryStore();
    clearProvidedKeys();
}

ScopedInMemoryStore::~ScopedInMemoryStore() {
    clearProvidedKeys();
    useFileStores(defaultFileStorePaths());
}

} // namespace registry
