#include "platform/com/PropertyBag.h"

#include <strings.h>

namespace com {

PropertyBag::~PropertyBag() {
    for (Entry& entry : m_entries)
        VariantClear(&entry.value);
}

PropertyBag::Entry* PropertyBag::find(std::string_view name) {
    for (Entry& entry : m_entries)
        if (entry.name.size() == name.size() &&
            strncasecmp(entry.name.c_str(), name.data(), name.size()) == 0)
            return &entry;
    return nullptr;
}

HRESULT PropertyBag::Read(const char* name, VARIANT* value) {
    if (!name || !value)
        return E_POINTER;
    if (!onOwnerThread())
        return RPC_E_WRONG_THREAD;
    const Entry* entry = find(name);
    if (!entry)
        return E_INVALIDARG;
    if (value->vt == VT_EMPTY)
        return VariantCopy(value, &entry->value);
    const HRESULT converted = VariantChangeType(value, &entry->value, value->vt);
    return converted == DISP_E_BADVARTYPE ? DISP_E_TYPEMISMATCH : converted;
}

HRESULT PropertyBag::Write(const char* name, const VARIANT* value) {
    if (!name || !value)
        return E_POINTER;
    if (!onOwnerThread())
        return RPC_E_WRONG_THREAD;
    if (Entry* entry = find(name))
        return VariantCopy(&entry->value, value);
    Entry entry{name, {}};
    const HRESULT copied = VariantCopy(&entry.value, value);
    if (SUCCEEDED(copied))
        m_entries.push_back(entry);
    return copied;
}

std::vector<std::string> PropertyBag::names() const {
    std::vector<std::string> result;
    for (const Entry& entry : m_entries)
        result.push_back(entry.name);
    return result;
}

Variant PropertyBag::value(std::string_view name) const {
    Variant copy;
    if (const Entry* entry = const_cast<PropertyBag*>(this)->find(name))
        VariantCopy(copy.get(), &entry->value);
    return copy;
}

ComPtr<PropertyBag> makePropertyBag() {
    return ComPtr<PropertyBag>::adopt(new PropertyBag);
}

} // namespace com
