#pragma once

// A property bag in memory: the saved properties of one control instance, in the order they
// were written, names matched without regard to case (the first spelling is kept).
// Used by containers (a stored layout fills one per control) and by tests.

#include "platform/com/Object.h"

#include <string>
#include <vector>

namespace com {

class PropertyBag : public Object<IPropertyBag> {
public:
    PropertyBag() = default;
    HRESULT Read(const char* name, VARIANT* value) override;
    HRESULT Write(const char* name, const VARIANT* value) override;

    // The names held, in order of first writing.
    std::vector<std::string> names() const;
    // A copy of one value (VT_EMPTY when absent).
    Variant value(std::string_view name) const;

private:
    ~PropertyBag() override;
    struct Entry {
        std::string name;
        VARIANT value;
    };
    Entry* find(std::string_view name);
    std::vector<Entry> m_entries;
};

// Creates an empty bag (one reference, the caller's).
ComPtr<PropertyBag> makePropertyBag();

} // namespace com
