#include "platform/com/Com.h"

#include <array>
#include <cctype>
#include <cstdio>

namespace com {

std::string toString(const GUID& guid) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::optional<GUID> parseGuid(std::string_view text) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}')
        text = text.substr(1, 36);
    if (text.size() != 36)
        return std::nullopt;
    std::uint8_t bytes[16];
    int count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-')
                return std::nullopt;
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 1])))
            return std::nullopt;
        bytes[count++] =
            static_cast<std::uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16));
        ++i;
    }
    GUID guid;
    guid.Data1 = std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
                 std::uint32_t{bytes[2]} << 8 | bytes[3];
    guid.Data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
    guid.Data3 = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
    for (int i = 0; i < 8; ++i)
        guid.Data4[i] = bytes[8 + i];
    return guid;
}

std::string describe(HRESULT result) {
    struct Known {
        HRESULT code;
        const char* text;
    };
    static constexpr std::array kKnown = {
        Known{S_OK, "S_OK: success"},
        Known{S_FALSE, "S_FALSE: success, answer no"},
        Known{E_NOTIMPL, "E_NOTIMPL: not implemented"},
        Known{E_NOINTERFACE, "E_NOINTERFACE: the object does not support that interface"},
        Known{E_POINTER, "E_POINTER: a required pointer was null"},
        Known{E_FAIL, "E_FAIL: unspecified failure"},
        Known{E_UNEXPECTED, "E_UNEXPECTED: call at an unexpected time"},
        Known{E_ACCESSDENIED, "E_ACCESSDENIED: access denied"},
        Known{E_OUTOFMEMORY, "E_OUTOFMEMORY: out of memory"},
        Known{E_INVALIDARG, "E_INVALIDARG: an argument is not valid"},
        Known{DISP_E_MEMBERNOTFOUND, "DISP_E_MEMBERNOTFOUND: no such member"},
        Known{DISP_E_PARAMNOTFOUND, "DISP_E_PARAMNOTFOUND: a named argument is not known"},
        Known{DISP_E_TYPEMISMATCH, "DISP_E_TYPEMISMATCH: an argument has the wrong type"},
        Known{DISP_E_UNKNOWNNAME, "DISP_E_UNKNOWNNAME: no member of that name"},
        Known{DISP_E_BADVARTYPE, "DISP_E_BADVARTYPE: an argument has an unknown type"},
        Known{DISP_E_EXCEPTION, "DISP_E_EXCEPTION: the member failed"},
        Known{DISP_E_OVERFLOW, "DISP_E_OVERFLOW: a value does not fit the type"},
        Known{DISP_E_BADPARAMCOUNT, "DISP_E_BADPARAMCOUNT: wrong number of arguments"},
        Known{CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION: the class cannot be aggregated"},
        Known{CLASS_E_CLASSNOTAVAILABLE,
              "CLASS_E_CLASSNOTAVAILABLE: the library does not serve that class"},
        Known{REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG: class not registered"},
        Known{CONNECT_E_NOCONNECTION, "CONNECT_E_NOCONNECTION: no such connection"},
        Known{CONNECT_E_CANNOTCONNECT, "CONNECT_E_CANNOTCONNECT: the sink lacks the interface"},
        Known{SELFREG_E_CLASS, "SELFREG_E_CLASS: the class could not be (un)registered"},
        Known{CO_E_CLASSSTRING, "CO_E_CLASSSTRING: not a valid class identifier or ProgID"},
        Known{CO_E_DLLNOTFOUND, "CO_E_DLLNOTFOUND: the library could not be loaded"},
        Known{CO_E_ERRORINDLL, "CO_E_ERRORINDLL: the library lacks a required export"},
        Known{RPC_E_WRONG_THREAD, "RPC_E_WRONG_THREAD: object used from another thread"},
        Known{CO_E_WRONG_ABI, "CO_E_WRONG_ABI: library built for another component ABI"},
    };
    for (const Known& known : kKnown)
        if (known.code == result)
            return known.text;
    char text[32];
    std::snprintf(text, sizeof text, "HRESULT 0x%08X", static_cast<std::uint32_t>(result));
    return text;
}

} // namespace com
