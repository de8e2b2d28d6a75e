#pragma once

// VARIANT: the tagged value that late-bound calls, events and property bags carry.
// Strings (BSTR) are length-prefixed text in the ANSI code page (here UTF-8), allocated and
// freed only through SysAllocString / SysFreeString, so either side of a library boundary may
// free what the other allocated.

#include "platform/com/Com.h"

#include <string>
#include <string_view>

class IUnknown;
class IDispatch;

using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using BSTR = char*;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_I2 = 2;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_DISPATCH = 9;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_VARIANT = 12;
inline constexpr VARTYPE VT_UNKNOWN = 13;
inline constexpr VARTYPE VT_BYREF = 0x4000;

struct VARIANT {
    VARTYPE vt = VT_EMPTY;
    union {
        VARIANT_BOOL boolVal;
        std::int16_t iVal;
        std::int32_t lVal;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        VARIANT_BOOL* pboolVal;
        std::int16_t* piVal;
        std::int32_t* plVal;
        BSTR* pbstrVal;
        VARIANT* pvarVal;
        std::int64_t reserved = 0;
    };
};

// A new string holding a copy of `length` bytes of `text` (a terminating zero is added).
BSTR SysAllocStringLen(const char* text, UINT length);
BSTR SysAllocString(const char* text);
void SysFreeString(BSTR text); // null is fine
UINT SysStringLen(BSTR text);  // 0 for null

void VariantInit(VARIANT* value);
// Frees what the value owns (a string, an interface reference) and makes it VT_EMPTY.
// By-reference values own nothing.
HRESULT VariantClear(VARIANT* value);
// Deep copy (a new string, an added reference); `target` is cleared first.
HRESULT VariantCopy(VARIANT* target, const VARIANT* source);
// Converts among VT_EMPTY, VT_I2, VT_I4, VT_BOOL and VT_BSTR; a by-reference source is read
// through its pointer. Numbers from text must be whole decimal numbers; booleans from text are
// "True"/"False" (any case) or a number. Results: DISP_E_TYPEMISMATCH when no conversion
// exists, DISP_E_OVERFLOW when a number does not fit VT_I2, DISP_E_BADVARTYPE for other types.
HRESULT VariantChangeType(VARIANT* target, const VARIANT* source, VARTYPE type);

namespace com {

// Makers and readers for the common cases. The makers' values own their strings: clear them.
VARIANT makeI4(std::int32_t value);
VARIANT makeI2(std::int16_t value);
VARIANT makeBool(bool value);
VARIANT makeBstr(std::string_view text);
VARIANT byRef(std::int32_t& value);
VARIANT byRef(std::int16_t& value); // VT_I2 | VT_BYREF
VARIANT byRefBool(VARIANT_BOOL& value);

// A variant that clears itself; for callers that hold results.
class Variant {
public:
    Variant() = default;
    explicit Variant(const VARIANT& adopted) : m_value(adopted) {}
    ~Variant() { VariantClear(&m_value); }
    Variant(const Variant& other) { VariantCopy(&m_value, &other.m_value); }
    Variant& operator=(const Variant& other) {
        if (this != &other)
            VariantCopy(&m_value, &other.m_value);
        return *this;
    }
    VARIANT* get() { return &m_value; }
    const VARIANT* get() const { return &m_value; }
    VARIANT* operator&() { return &m_value; }
    VARTYPE type() const { return m_value.vt; }
    const VARIANT& operator*() const { return m_value; }

private:
    VARIANT m_value;
};

// Reads a value as a number, boolean or text with the conversions of VariantChangeType;
// nullopt when it does not convert.
std::optional<std::int32_t> toLong(const VARIANT& value);
std::optional<bool> toBool(const VARIANT& value);
std::optional<std::string> toText(const VARIANT& value);

} // namespace com
