#pragma once

// The component runtime's plain types: GUIDs, HRESULTs and the few scalar names that the
// component interfaces use. Everything here is a plain value type, safe to pass between the
// player and a library it loads.

#include "platform/BasicTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using HRESULT = std::int32_t;
using DISPID = std::int32_t;

struct GUID {
    std::uint32_t Data1 = 0;
    std::uint16_t Data2 = 0;
    std::uint16_t Data3 = 0;
    std::uint8_t Data4[8] = {};

    friend constexpr bool operator==(const GUID& a, const GUID& b) {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
            return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i])
                return false;
        return true;
    }
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline constexpr GUID GUID_NULL{};

namespace com {

// "{8-4-4-4-12}" in upper-case hexadecimal, braces included.
std::string toString(const GUID& guid);
// Accepts the same form, either case, with or without braces; nullopt for anything else.
std::optional<GUID> parseGuid(std::string_view text);

// A readable one-line description of a result, for messages ("REGDB_E_CLASSNOTREG: ...").
std::string describe(HRESULT result);

} // namespace com

constexpr bool SUCCEEDED(HRESULT result) {
    return result >= 0;
}
constexpr bool FAILED(HRESULT result) {
    return result < 0;
}

constexpr HRESULT hresultFrom(std::uint32_t bits) {
    return static_cast<HRESULT>(bits);
}

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = hresultFrom(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = hresultFrom(0x80004002);
inline constexpr HRESULT E_POINTER = hresultFrom(0x80004003);
inline constexpr HRESULT E_FAIL = hresultFrom(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = hresultFrom(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = hresultFrom(0x80070005);
inline constexpr HRESULT E_OUTOFMEMORY = hresultFrom(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = hresultFrom(0x80070057);
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = hresultFrom(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = hresultFrom(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = hresultFrom(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = hresultFrom(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = hresultFrom(0x80020006);
inline constexpr HRESULT DISP_E_BADVARTYPE = hresultFrom(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = hresultFrom(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = hresultFrom(0x8002000A);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = hresultFrom(0x8002000E);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = hresultFrom(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hresultFrom(0x80040111);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = hresultFrom(0x80040154);
inline constexpr HRESULT CONNECT_E_NOCONNECTION = hresultFrom(0x80040200);
inline constexpr HRESULT CONNECT_E_CANNOTCONNECT = hresultFrom(0x80040202);
inline constexpr HRESULT SELFREG_E_CLASS = hresultFrom(0x80040201);
inline constexpr HRESULT CO_E_CLASSSTRING = hresultFrom(0x800401F3);
inline constexpr HRESULT CO_E_DLLNOTFOUND = hresultFrom(0x800401F8);
inline constexpr HRESULT CO_E_ERRORINDLL = hresultFrom(0x800401F9);
inline constexpr HRESULT RPC_E_WRONG_THREAD = hresultFrom(0x8001010E);
// This runtime's own: the library was built for another component ABI (see Server.h).
inline constexpr HRESULT CO_E_WRONG_ABI = hresultFrom(0x8004F001);
