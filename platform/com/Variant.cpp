#include "platform/com/Variant.h"

#include "platform/com/Interfaces.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <strings.h>

BSTR SysAllocStringLen(const char* text, UINT length) {
    auto* block = static_cast<char*>(std::malloc(sizeof(std::uint32_t) + length + 1));
    if (!block)
        return nullptr;
    std::memcpy(block, &length, sizeof length);
    BSTR result = block + sizeof(std::uint32_t);
    if (text && length > 0)
        std::memcpy(result, text, length);
    else if (length > 0)
        std::memset(result, 0, length);
    result[length] = 0;
    return result;
}

BSTR SysAllocString(const char* text) {
    return text ? SysAllocStringLen(text, static_cast<UINT>(std::strlen(text))) : nullptr;
}

void SysFreeString(BSTR text) {
    if (text)
        std::free(text - sizeof(std::uint32_t));
}

UINT SysStringLen(BSTR text) {
    if (!text)
        return 0;
    std::uint32_t length;
    std::memcpy(&length, text - sizeof length, sizeof length);
    return length;
}

void VariantInit(VARIANT* value) {
    value->vt = VT_EMPTY;
    value->reserved = 0;
}

HRESULT VariantClear(VARIANT* value) {
    if (!value)
        return E_POINTER;
    if (value->vt == VT_BSTR)
        SysFreeString(value->bstrVal);
    else if ((value->vt == VT_UNKNOWN || value->vt == VT_DISPATCH) && value->punkVal)
        value->punkVal->Release();
    VariantInit(value);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* target, const VARIANT* source) {
    if (!target || !source)
        return E_POINTER;
    if (target == source)
        return S_OK;
    VARIANT copy = *source;
    if (source->vt == VT_BSTR) {
        copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
        if (source->bstrVal && !copy.bstrVal)
            return E_OUTOFMEMORY;
    } else if ((source->vt == VT_UNKNOWN || source->vt == VT_DISPATCH) && source->punkVal) {
        source->punkVal->AddRef();
    }
    VariantClear(target);
    *target = copy;
    return S_OK;
}

namespace {

// The value a by-reference variant points at, as a plain variant (borrowing any string).
std::optional<VARIANT> dereferenced(const VARIANT& value) {
    if (!(value.vt & VT_BYREF))
        return value;
    VARIANT plain;
    plain.vt = static_cast<VARTYPE>(value.vt & ~VT_BYREF);
    switch (plain.vt) {
    case VT_BOOL:
        plain.boolVal = *value.pboolVal;
        return plain;
    case VT_I2:
        plain.iVal = *value.piVal;
        return plain;
    case VT_I4:
        plain.lVal = *value.plVal;
        return plain;
    case VT_BSTR:
        plain.bstrVal = *value.pbstrVal;
        return plain;
    case VT_VARIANT:
        return dereferenced(*value.pvarVal);
    default:
        return std::nullopt;
    }
}

std::optional<std::int64_t> parseWhole(std::string_view text) {
    std::int64_t number = 0;
    const char* end = text.data() + text.size();
    const char* start = text.data();
    if (start != end && *start == '+')
        ++start;
    auto [stop, error] = std::from_chars(start, end, number);
    if (error != std::errc() || stop != end || start == end)
        return std::nullopt;
    return number;
}

std::optional<std::int64_t> asNumber(const VARIANT& plain) {
    switch (plain.vt) {
    case VT_EMPTY:
        return 0;
    case VT_I2:
        return plain.iVal;
    case VT_I4:
        return plain.lVal;
    case VT_BOOL:
        return plain.boolVal ? -1 : 0;
    case VT_BSTR: {
        const std::string_view text(plain.bstrVal ? plain.bstrVal : "",
                                    SysStringLen(plain.bstrVal));
        if (strcasecmp(std::string(text).c_str(), "true") == 0)
            return -1;
        if (strcasecmp(std::string(text).c_str(), "false") == 0)
            return 0;
        return parseWhole(text);
    }
    default:
        return std::nullopt;
    }
}

bool isKnownType(VARTYPE type) {
    return type == VT_EMPTY || type == VT_I2 || type == VT_I4 || type == VT_BOOL || type == VT_BSTR;
}

} // namespace

HRESULT VariantChangeType(VARIANT* target, const VARIANT* source, VARTYPE type) {
    if (!target || !source)
        return E_POINTER;
    const auto plain = dereferenced(*source);
    if (!plain || !isKnownType(plain->vt) || !isKnownType(type))
        return DISP_E_BADVARTYPE;
    VARIANT result;
    result.vt = type;
    if (type == VT_BSTR) {
        std::string text;
        if (plain->vt == VT_BSTR)
            text.assign(plain->bstrVal ? plain->bstrVal : "", SysStringLen(plain->bstrVal));
        else if (plain->vt == VT_BOOL)
            text = plain->boolVal ? "True" : "False";
        else if (plain->vt != VT_EMPTY)
            text = std::to_string(*asNumber(*plain));
        result.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    } else if (type != VT_EMPTY) {
        const auto number = asNumber(*plain);
        if (!number)
            return DISP_E_TYPEMISMATCH;
        if (type == VT_BOOL) {
            result.boolVal = *number ? VARIANT_TRUE : VARIANT_FALSE;
        } else if (type == VT_I2) {
            if (*number < std::numeric_limits<std::int16_t>::min() ||
                *number > std::numeric_limits<std::int16_t>::max())
                return DISP_E_OVERFLOW;
            result.iVal = static_cast<std::int16_t>(*number);
        } else {
            if (*number < std::numeric_limits<std::int32_t>::min() ||
                *number > std::numeric_limits<std::int32_t>::max())
                return DISP_E_OVERFLOW;
            result.lVal = static_cast<std::int32_t>(*number);
        }
    }
    VariantClear(target);
    *target = result;
    return S_OK;
}

namespace com {

VARIANT makeI4(std::int32_t value) {
    VARIANT result;
    result.vt = VT_I4;
    result.lVal = value;
    return result;
}

VARIANT makeI2(std::int16_t value) {
    VARIANT result;
    result.vt = VT_I2;
    result.iVal = value;
    return result;
}

VARIANT makeBool(bool value) {
    VARIANT result;
    result.vt = VT_BOOL;
    result.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return result;
}

VARIANT makeBstr(std::string_view text) {
    VARIANT result;
    result.vt = VT_BSTR;
    result.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return result;
}

VARIANT byRef(std::int32_t& value) {
    VARIANT result;
    result.vt = VT_I4 | VT_BYREF;
    result.plVal = &value;
    return result;
}

VARIANT byRef(std::int16_t& value) {
    VARIANT result;
    result.vt = VT_I2 | VT_BYREF;
    result.piVal = &value;
    return result;
}

VARIANT byRefBool(VARIANT_BOOL& value) {
    VARIANT result;
    result.vt = VT_BOOL | VT_BYREF;
    result.pboolVal = &value;
    return result;
}

std::optional<std::int32_t> toLong(const VARIANT& value) {
    VARIANT converted;
    if (FAILED(VariantChangeType(&converted, &value, VT_I4)))
        return std::nullopt;
    return converted.lVal;
}

std::optional<bool> toBool(const VARIANT& value) {
    VARIANT converted;
    if (FAILED(VariantChangeType(&converted, &value, VT_BOOL)))
        return std::nullopt;
    return converted.boolVal != VARIANT_FALSE;
}

std::optional<std::string> toText(const VARIANT& value) {
    VARIANT converted;
    if (FAILED(VariantChangeType(&converted, &value, VT_BSTR)))
        return std::nullopt;
    std::string text(converted.bstrVal, SysStringLen(converted.bstrVal));
    VariantClear(&converted);
    return text;
}

} // namespace com
