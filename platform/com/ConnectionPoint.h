#pragma once

// One outgoing interface of an object and the sinks connected to it. A sub-object: its
// references are its owner's, so a held connection point keeps the owner alive.

#include "platform/com/Interfaces.h"

#include <map>
#include <vector>

namespace com {

class ConnectionPoint final : public IConnectionPoint {
public:
    // `fallback`: a second interface a sink may offer instead (IDispatch for an event
    // interface); GUID_NULL for none.
    ConnectionPoint(IUnknown& owner, IID iid, IID fallback);
    ~ConnectionPoint();

    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override { return m_owner.AddRef(); }
    ULONG Release() override { return m_owner.Release(); }
    HRESULT GetConnectionInterface(IID* iid) override;
    HRESULT Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT Unadvise(DWORD cookie) override;

    // The connected sinks in connection order, each as the interface it was connected with
    // (references added: a sink may disconnect while being called).
    template <class Sink> std::vector<ComPtr<Sink>> sinks() const {
        std::vector<ComPtr<Sink>> result;
        for (const auto& [cookie, sink] : m_sinks)
            result.emplace_back(static_cast<Sink*>(sink));
        return result;
    }
    void disconnectAll();

private:
    IUnknown& m_owner;
    IID m_iid;
    IID m_fallback;
    std::map<DWORD, IUnknown*> m_sinks; // each holds one reference
    DWORD m_nextCookie = 1;
};

} // namespace com
