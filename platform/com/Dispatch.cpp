#include "platform/com/Dispatch.h"

#include <algorithm>
#include <strings.h>

namespace com {

namespace {

const DISPPARAMS kNoArguments{};

} // namespace

void DispatchTable::addProperty(std::string name, DISPID id, VARTYPE type, Getter get, Putter put) {
    m_members.push_back(Member{std::move(name), id, type, std::move(get), std::move(put), {}, {}});
}

void DispatchTable::addMethod(std::string name, DISPID id, std::vector<VARTYPE> params,
                              Method call) {
    m_members.push_back(
        Member{std::move(name), id, VT_EMPTY, {}, {}, std::move(params), std::move(call)});
}

std::optional<DISPID> DispatchTable::idOf(std::string_view name) const {
    for (const Member& member : m_members)
        if (member.name.size() == name.size() &&
            strncasecmp(member.name.c_str(), name.data(), name.size()) == 0)
            return member.id;
    return std::nullopt;
}

const DispatchTable::Member* DispatchTable::find(DISPID id) const {
    auto found = std::find_if(m_members.begin(), m_members.end(),
                              [&](const Member& member) { return member.id == id; });
    return found == m_members.end() ? nullptr : &*found;
}

HRESULT DispatchTable::getIDsOfNames(const char* const* names, UINT count, DISPID* ids) const {
    if (!names || !ids || count == 0)
        return E_POINTER;
    std::fill(ids, ids + count, DISPID_UNKNOWN);
    auto id = names[0] ? idOf(names[0]) : std::nullopt;
    if (!id)
        return DISP_E_UNKNOWNNAME;
    ids[0] = *id;
    return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT DispatchTable::invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                              UINT* argError) const {
    const Member* member = find(id);
    if (!member)
        return DISP_E_MEMBERNOTFOUND;
    const DISPPARAMS& arguments = params ? *params : kNoArguments;
    if (arguments.cArgs > 0 && !arguments.rgvarg)
        return E_POINTER;
    if (result)
        VariantInit(result);
    if (member->call && (flags & DISPATCH_METHOD))
        return invokeMethod(*member, arguments, result, argError);
    if ((flags & DISPATCH_PROPERTYPUT) && member->put)
        return invokePut(*member, arguments, argError);
    if ((flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) && member->get)
        return invokeGet(*member, arguments, result);
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT DispatchTable::invokeGet(const Member& member, const DISPPARAMS& params,
                                 VARIANT* result) const {
    if (params.cArgs != 0)
        return DISP_E_BADPARAMCOUNT;
    VARIANT value;
    const HRESULT got = member.get(&value);
    if (FAILED(got) || !result) {
        VariantClear(&value);
        return got;
    }
    *result = value;
    return got;
}

HRESULT DispatchTable::invokePut(const Member& member, const DISPPARAMS& params,
                                 UINT* argError) const {
    if (params.cArgs != 1)
        return DISP_E_BADPARAMCOUNT;
    VARIANT value;
    const HRESULT converted = VariantChangeType(&value, &params.rgvarg[0], member.type);
    if (FAILED(converted)) {
        if (argError)
            *argError = 0;
        return converted == DISP_E_BADVARTYPE ? DISP_E_TYPEMISMATCH : converted;
    }
    const HRESULT put = member.put(value);
    VariantClear(&value);
    return put;
}

HRESULT DispatchTable::invokeMethod(const Member& member, const DISPPARAMS& params, VARIANT* result,
                                    UINT* argError) const {
    if (params.cArgs != member.params.size() || params.cNamedArgs != 0)
        return DISP_E_BADPARAMCOUNT;
    std::vector<VARIANT> args(params.cArgs);
    HRESULT outcome = S_OK;
    for (UINT i = 0; i < params.cArgs && SUCCEEDED(outcome); ++i) {
        const UINT reversed = params.cArgs - 1 - i;
        const VARIANT& given = params.rgvarg[reversed];
        const VARTYPE wanted = member.params[i];
        if (wanted & VT_BYREF) {
            outcome = given.vt == wanted ? S_OK : DISP_E_TYPEMISMATCH;
            args[i] = given;
        } else if (wanted == VT_VARIANT) {
            outcome = VariantCopy(&args[i], &given);
        } else {
            outcome = VariantChangeType(&args[i], &given, wanted);
            if (outcome == DISP_E_BADVARTYPE)
                outcome = DISP_E_TYPEMISMATCH;
        }
        if (FAILED(outcome) && argError)
            *argError = reversed;
    }
    if (SUCCEEDED(outcome)) {
        VARIANT value;
        outcome = member.call(args, &value);
        if (result)
            *result = value;
        else
            VariantClear(&value);
    }
    for (UINT i = 0; i < args.size(); ++i)
        if (!(member.params[i] & VT_BYREF))
            VariantClear(&args[i]);
    return outcome;
}

HRESULT getProperty(IDispatch* object, DISPID id, VARIANT* result) {
    if (!object)
        return E_POINTER;
    DISPPARAMS none;
    return object->Invoke(id, DISPATCH_PROPERTYGET, &none, result, nullptr);
}

HRESULT putProperty(IDispatch* object, DISPID id, const VARIANT& value) {
    if (!object)
        return E_POINTER;
    VARIANT argument = value; // borrowed, not cleared here
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&argument, &named, 1, 1};
    return object->Invoke(id, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr);
}

HRESULT callMethod(IDispatch* object, DISPID id, std::initializer_list<VARIANT> args,
                   VARIANT* result) {
    if (!object)
        return E_POINTER;
    std::vector<VARIANT> reversed(args.begin(), args.end());
    std::reverse(reversed.begin(), reversed.end());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    return object->Invoke(id, DISPATCH_METHOD, &params, result, nullptr);
}

} // namespace com
