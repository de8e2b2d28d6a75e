#pragma once

// The content of one store: keys by their full path, each with its values in insertion order.
// Internal to the registry layer (the file format and the backends share it).

#include "platform/registry/Registry.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace registry {

struct Value {
    std::string name; // empty: the default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct Key {
    std::string spelling; // full path as first written, "HKEY_CLASSES_ROOT\CLSID\{...}"
    std::vector<Value> values;

    const Value* find(std::string_view name) const;
    // Replaces the value of the same name in place, or appends it.
    void set(Value value);
    bool erase(std::string_view name);
};

std::string lowered(std::string_view text);
// "HKEY_CLASSES_ROOT" for the root handle, empty for anything else.
std::string_view rootName(HKEY root);
std::optional<HKEY> rootFromName(std::string_view name);

// Joins a root and a sub-key path into a full path, dropping empty components.
std::string joinPath(std::string_view base, std::string_view subKey);

class Hive {
public:
    const Key* find(std::string_view fullPath) const;
    Key* find(std::string_view fullPath);
    // Creates the key and its parents, keeping the spelling of those that exist. The path names
    // a key below a root ("HKEY_CURRENT_USER\\Software"), never a root alone.
    Key& create(std::string_view fullPath);
    // Removes the key and everything below it; false when there was nothing.
    bool eraseTree(std::string_view fullPath);
    bool empty() const { return m_keys.empty(); }
    std::size_t size() const { return m_keys.size(); }
    // Keys in an order where a parent comes before its children.
    const std::map<std::string, Key>& keys() const { return m_keys; }

private:
    std::map<std::string, Key> m_keys; // by lowered full path
};

// REGEDIT4 text. Parsing stops at the first line it cannot read; `problem` then says which.
struct ParsedHive {
    Hive hive;
    std::string problem; // empty when the whole text parsed
};
ParsedHive parseRegFile(std::string_view text);
std::string formatRegFile(const Hive& hive);

} // namespace registry
