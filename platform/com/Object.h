#pragma once

// A base for objects that implement one or more interfaces: reference counting, the identity
// rule of QueryInterface, and the apartment check. Create with `new` (the count starts at 1)
// and hand out with ComPtr<T>::adopt.
//
//     class Bag : public com::Object<IPropertyBag> { ... };
//     auto bag = com::ComPtr<IPropertyBag>::adopt(new Bag);

#include "platform/com/Interfaces.h"

#include <atomic>
#include <thread>
#include <tuple>

namespace com {

template <class... Interfaces> class Object : public Interfaces... {
public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid == IUnknown::kIid)
            *object = identity();
        else // the first of Interfaces that matches
            static_cast<void>(
                ((iid == Interfaces::kIid && (*object = static_cast<Interfaces*>(this))) || ...));
        if (!*object)
            *object = queryMore(iid);
        if (!*object)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_references; }
    ULONG Release() override {
        const ULONG left = --m_references;
        if (left == 0)
            lastReleased();
        return left;
    }

    // The one IUnknown pointer of this object.
    IUnknown* identity() {
        return static_cast<std::tuple_element_t<0, std::tuple<Interfaces...>>*>(this);
    }

protected:
    Object() = default;
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    // Further interfaces (for example a base interface such as IDispatch of a dual one); the
    // pointer returned gets its reference from QueryInterface.
    virtual void* queryMore(REFIID) { return nullptr; }
    // Runs when the last reference goes; destroys the object unless overridden.
    virtual void lastReleased() { delete this; }

    bool onOwnerThread() const { return std::this_thread::get_id() == m_thread; }

private:
    std::atomic<ULONG> m_references{1};
    const std::thread::id m_thread = std::this_thread::get_id();
};

} // namespace com
