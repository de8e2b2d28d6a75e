#include "platform/com/Sinks.h"

#include <algorithm>
#include <vector>

namespace com {

HRESULT EventSink::Invoke(DISPID id, WORD, DISPPARAMS* params, VARIANT*, UINT*) {
    if (!onOwnerThread())
        return RPC_E_WRONG_THREAD;
    std::vector<VARIANT> args;
    if (params && params->rgvarg)
        args.assign(params->rgvarg, params->rgvarg + params->cArgs);
    std::reverse(args.begin(), args.end());
    m_handler(id, args);
    return S_OK;
}

void* EventSink::queryMore(REFIID iid) {
    return iid == m_eventInterface ? static_cast<IDispatch*>(this) : nullptr;
}

namespace {

ComPtr<IConnectionPoint> findPoint(IUnknown* object, REFIID iid, HRESULT* result) {
    ComPtr<IConnectionPoint> point;
    if (!object) {
        *result = E_POINTER;
        return point;
    }
    ComPtr<IConnectionPointContainer> container;
    *result = object->QueryInterface(IConnectionPointContainer::kIid, container.putVoid());
    if (SUCCEEDED(*result))
        *result = container->FindConnectionPoint(iid, point.put());
    return point;
}

} // namespace

HRESULT connectSink(IUnknown* object, REFIID iid, IUnknown* sink, DWORD* cookie) {
    HRESULT result;
    auto point = findPoint(object, iid, &result);
    return point ? point->Advise(sink, cookie) : result;
}

HRESULT disconnectSink(IUnknown* object, REFIID iid, DWORD cookie) {
    HRESULT result;
    auto point = findPoint(object, iid, &result);
    return point ? point->Unadvise(cookie) : result;
}

} // namespace com
