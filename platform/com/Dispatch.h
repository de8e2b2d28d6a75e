#pragma once

// An object's type information for late binding, and the IDispatch work done over it: name
// lookup, argument checks and conversions. A control fills one table in its constructor and
// forwards GetIDsOfNames and Invoke to it (UserControl does this already).

#include "platform/com/Interfaces.h"

#include <functional>
#include <span>
#include <string>
#include <vector>

namespace com {

class DispatchTable {
public:
    // Writes the property's value into `result` (VT_EMPTY on entry).
    using Getter = std::function<HRESULT(VARIANT* result)>;
    // Receives the value already converted to the property's type.
    using Putter = std::function<HRESULT(const VARIANT& value)>;
    // Receives the arguments in natural order, each converted to its parameter type; a
    // parameter declared with VT_BYREF receives the caller's by-reference variant itself.
    using Method = std::function<HRESULT(std::span<VARIANT> args, VARIANT* result)>;

    // A property with a getter and, when `put` is given, a putter (both share the DISPID).
    void addProperty(std::string name, DISPID id, VARTYPE type, Getter get, Putter put = {});
    void addMethod(std::string name, DISPID id, std::vector<VARTYPE> params, Method call);

    // The DISPID of a member by name (case-insensitive).
    std::optional<DISPID> idOf(std::string_view name) const;

    HRESULT getIDsOfNames(const char* const* names, UINT count, DISPID* ids) const;
    HRESULT invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                   UINT* argError) const;

private:
    struct Member {
        std::string name;
        DISPID id;
        VARTYPE type = VT_EMPTY;
        Getter get;
        Putter put;
        std::vector<VARTYPE> params;
        Method call;
    };
    const Member* find(DISPID id) const;
    HRESULT invokeGet(const Member& member, const DISPPARAMS& params, VARIANT* result) const;
    HRESULT invokePut(const Member& member, const DISPPARAMS& params, UINT* argError) const;
    HRESULT invokeMethod(const Member& member, const DISPPARAMS& params, VARIANT* result,
                         UINT* argError) const;

    std::vector<Member> m_members;
};

} // namespace com
