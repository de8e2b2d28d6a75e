#include "platform/registry/Backend.h"

#include <algorithm>

namespace registry {

std::optional<Key> MemoryBackend::read(std::string_view fullPath) {
    const Key* key = m_hive.find(fullPath);
    return key ? std::optional<Key>(*key) : std::nullopt;
}

bool MemoryBackend::mayWrite(HKEY root) {
    return std::find(m_readOnlyRoots.begin(), m_readOnlyRoots.end(), root) == m_readOnlyRoots.end();
}

LONG MemoryBackend::modify(HKEY, const std::function<LONG(Hive&)>& change) {
    Hive changed = m_hive;
    const LONG result = change(changed);
    if (result == ERROR_SUCCESS)
        m_hive = std::move(changed);
    return result;
}

void MemoryBackend::setWritable(HKEY root, bool writable) {
    std::erase(m_readOnlyRoots, root);
    if (!writable)
        m_readOnlyRoots.push_back(root);
}

} // namespace registry
