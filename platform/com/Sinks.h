#pragma once

// Ready-made sinks for a container (or a test) that listens to a control: its events and its
// property-change notifications, handed to plain functions.

#include "platform/com/Object.h"

#include <functional>
#include <span>
#include <string>

namespace com {

// Receives the events of one event interface. `args` are in natural order; by-reference
// arguments (VT_BYREF) may be written through, and the control sees the change.
class EventSink : public Object<IDispatch> {
public:
    using Handler = std::function<void(DISPID id, std::span<VARIANT> args)>;
    EventSink(IID eventInterface, Handler handler)
        : m_eventInterface(eventInterface), m_handler(std::move(handler)) {}
    HRESULT GetIDsOfNames(const char* const*, UINT, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, WORD, DISPPARAMS* params, VARIANT*, UINT*) override;

private:
    void* queryMore(REFIID iid) override;
    IID m_eventInterface;
    Handler m_handler;
};

class PropertyNotifySink : public Object<IPropertyNotifySink> {
public:
    using Handler = std::function<void(DISPID id, const std::string& name)>;
    explicit PropertyNotifySink(Handler handler) : m_handler(std::move(handler)) {}
    HRESULT OnChanged(DISPID id, const char* name) override {
        m_handler(id, name ? name : "");
        return S_OK;
    }

private:
    Handler m_handler;
};

// Connects `sink` to the connection point `iid` of `object`; the cookie undoes it.
HRESULT connectSink(IUnknown* object, REFIID iid, IUnknown* sink, DWORD* cookie);
HRESULT disconnectSink(IUnknown* object, REFIID iid, DWORD cookie);

} // namespace com
