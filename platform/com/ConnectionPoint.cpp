#include "platform/com/ConnectionPoint.h"

namespace com {

ConnectionPoint::ConnectionPoint(IUnknown& owner, IID iid, IID fallback)
    : m_owner(owner), m_iid(iid), m_fallback(fallback) {}

ConnectionPoint::~ConnectionPoint() {
    disconnectAll();
}

HRESULT ConnectionPoint::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid != IUnknown::kIid && iid != IConnectionPoint::kIid)
        return E_NOINTERFACE;
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid)
        return E_POINTER;
    *iid = m_iid;
    return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!sink || !cookie)
        return E_POINTER;
    *cookie = 0;
    void* typed = nullptr;
    if (FAILED(sink->QueryInterface(m_iid, &typed)) &&
        (m_fallback == GUID_NULL || FAILED(sink->QueryInterface(m_fallback, &typed))))
        return CONNECT_E_CANNOTCONNECT;
    *cookie = m_nextCookie++;
    m_sinks.emplace(*cookie, static_cast<IUnknown*>(typed));
    return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
    auto found = m_sinks.find(cookie);
    if (found == m_sinks.end())
        return CONNECT_E_NOCONNECTION;
    IUnknown* sink = found->second;
    m_sinks.erase(found);
    sink->Release();
    return S_OK;
}

void ConnectionPoint::disconnectAll() {
    auto sinks = std::move(m_sinks);
    m_sinks.clear();
    for (auto& [cookie, sink] : sinks)
        sink->Release();
}

} // namespace com
