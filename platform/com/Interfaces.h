#pragma once

// The component interfaces: abstract classes of pure virtual functions with plain types at the
// boundary, so that the player and a library it loads with dlopen agree on them by layout alone.
// Each carries its interface identifier as `kIid`.
//
// Rules every object follows (and the tests check):
// - QueryInterface for IUnknown always returns the same pointer for one object (its identity);
//   asking for an interface it has succeeds from any of its interfaces; a failed query stores
//   null and returns E_NOINTERFACE; a null out pointer gives E_POINTER.
// - A successful QueryInterface, and every interface pointer handed out, carries a reference
//   that the receiver releases. The object is destroyed when its last reference goes.
// - Objects are apartment-bound: they are used on the thread that created them. Every member
//   that returns an HRESULT, called from another thread, returns RPC_E_WRONG_THREAD without
//   acting. AddRef and Release are counted atomically and may come from any thread.
// - Nothing is deleted through an interface: each interface's destructor is protected and, so
//   that the function table keeps the classic layout, not virtual.

#include "platform/com/Com.h"
#include "platform/com/Variant.h"

#include <utility>

class QWidget;

inline constexpr GUID guidOf(std::uint32_t d1, std::uint16_t d2, std::uint16_t d3,
                             std::uint64_t d4) {
    GUID guid;
    guid.Data1 = d1;
    guid.Data2 = d2;
    guid.Data3 = d3;
    for (int i = 0; i < 8; ++i)
        guid.Data4[i] = static_cast<std::uint8_t>(d4 >> (56 - 8 * i));
    return guid;
}

class IUnknown {
public:
    static constexpr IID kIid = guidOf(0x00000000, 0x0000, 0x0000, 0xC000000000000046);
    virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;

inline constexpr WORD DISPATCH_METHOD = 1;
inline constexpr WORD DISPATCH_PROPERTYGET = 2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 4;

// Arguments of a late-bound call, in reverse order as the classic convention has it:
// rgvarg[cArgs - 1] is the first argument. A property put passes its value as the one argument,
// named DISPID_PROPERTYPUT. By-reference arguments (VT_BYREF) let the callee write back.
struct DISPPARAMS {
    VARIANT* rgvarg = nullptr;
    DISPID* rgdispidNamedArgs = nullptr;
    UINT cArgs = 0;
    UINT cNamedArgs = 0;
};

class IDispatch : public IUnknown {
public:
    static constexpr IID kIid = guidOf(0x00020400, 0x0000, 0x0000, 0xC000000000000046);
    // Finds members by name (case-insensitive) in the object's type information. `names[0]` is
    // the member; further names (parameters) are not supported and get DISPID_UNKNOWN.
    // Unknown name: DISP_E_UNKNOWNNAME, with DISPID_UNKNOWN stored.
    virtual HRESULT GetIDsOfNames(const char* const* names, UINT count, DISPID* ids) = 0;
    // Gets or puts a property, or calls a method. `result` (may be null) receives a getter's
    // value; the caller clears it. Unknown DISPID or a get/put the member lacks:
    // DISP_E_MEMBERNOTFOUND; wrong argument count: DISP_E_BADPARAMCOUNT; an argument that does
    // not convert to the member's type: DISP_E_TYPEMISMATCH (or DISP_E_OVERFLOW), with the
    // argument's index (in rgvarg) in `argError` when given. Otherwise the member's own result.
    virtual HRESULT Invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                           UINT* argError) = 0;

protected:
    ~IDispatch() = default;
};

class IClassFactory : public IUnknown {
public:
    static constexpr IID kIid = guidOf(0x00000001, 0x0000, 0x0000, 0xC000000000000046);
    // A new object, or CLASS_E_NOAGGREGATION when `outer` is not null.
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
    // Keeps the library loaded while locked (counts; lock true adds, false removes).
    virtual HRESULT LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};

// Named values that a container keeps for a control between sessions.
class IPropertyBag : public IUnknown {
public:
    static constexpr IID kIid = guidOf(0x55272A00, 0x42CB, 0x11CE, 0x813500AA004BB851);
    // Reads a value by name (case-insensitive). When value->vt is VT_EMPTY the stored type is
    // kept, otherwise the value is converted to value->vt (DISP_E_TYPEMISMATCH when it cannot).
    // Missing name: E_INVALIDARG. The caller clears the value.
    virtual HRESULT Read(const char* name, VARIANT* value) = 0;
    // Stores a copy; a name already held (in any case) is replaced and keeps its first spelling.
    virtual HRESULT Write(const char* name, const VARIANT* value) = 0;

protected:
    ~IPropertyBag() = default;
};

class IPersistPropertyBag : public IUnknown {
public:
    static constexpr IID kIid = guidOf(0x37D84F60, 0x42CB, 0x11CE, 0x813500AA004BB851);
    virtual HRESULT InitNew() = 0;               // a new instance without saved data
    virtual HRESULT Load(IPropertyBag* bag) = 0; // an instance loaded from saved data
    virtual HRESULT Save(IPropertyBag* bag) = 0; // the container stores the instance

protected:
    ~IPersistPropertyBag() = default;
};

// A container's sink for property changes that the control signals by name.
class IPropertyNotifySink : public IUnknown {
public:
    static constexpr IID kIid = guidOf(0x9BFBBC02, 0xEFF1, 0x101A, 0x84ED00AA00341D07);
    // `id` is the property's DISPID, or DISPID_UNKNOWN when the name has none.
    virtual HRESULT OnChanged(DISPID id, const char* name) = 0;

protected:
    ~IPropertyNotifySink() = default;
};

class IConnectionPoint : public IUnknown {
public:
    static constexpr IID kIid = guidOf(0xB196B286, 0xBAB4, 0x101A, 0xB69C00AA00341D07);
    virtual HRESULT GetConnectionInterface(IID* iid) = 0;
    // Connects a sink (queried for the connection's interface, or IDispatch for an event
    // interface): CONNECT_E_CANNOTCONNECT when it has neither. The point holds a reference.
    virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
    virtual HRESULT Unadvise(DWORD cookie) = 0; // CONNECT_E_NOCONNECTION for an unknown cookie

protected:
    ~IConnectionPoint() = default;
};

class IConnectionPointContainer : public IUnknown {
public:
    static constexpr IID kIid = guidOf(0xB196B284, 0xBAB4, 0x101A, 0xB69C00AA00341D07);
    // CONNECT_E_NOCONNECTION when the object has no such outgoing interface.
    virtual HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) = 0;

protected:
    ~IConnectionPointContainer() = default;
};

// What a container needs of a visible control: this runtime's own, in place of the many
// classic in-place activation interfaces. Sizes and positions are twips.
class IHostedControl : public IUnknown {
public:
    static constexpr IID kIid = guidOf(0x6B1E5F30, 0x2C4D, 0x4E8A, 0x9F1763A2B4C5D601);
    // Puts the control's window into `host` (null takes it out). The control shows itself.
    virtual HRESULT SetHost(QWidget* host) = 0;
    // Places the control; the control may then set a size of its own (see GetExtent).
    virtual HRESULT SetObjectRect(LONG leftTwips, LONG topTwips, LONG widthTwips,
                                  LONG heightTwips) = 0;
    virtual HRESULT GetExtent(LONG* widthTwips, LONG* heightTwips) = 0;
    // The control's own window; no reference is added to anything.
    virtual HRESULT GetWindow(QWidget** window) = 0;
    // Ends the control: runs its terminate hook, stops its timers, destroys its window.
    // Idempotent; the object lives on until its last reference goes.
    virtual HRESULT Close() = 0;

protected:
    ~IHostedControl() = default;
};

namespace com {

// A counted reference to an interface. Copies add a reference, destruction releases it.
template <class T> class ComPtr {
public:
    ComPtr() = default;
    // Takes a new reference to `object` (AddRef).
    explicit ComPtr(T* object) : m_object(object) {
        if (m_object)
            m_object->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.m_object) {}
    ComPtr(ComPtr&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(m_object, other.m_object);
        return *this;
    }
    ~ComPtr() { reset(); }

    // Adopts a reference the caller already owns (no AddRef).
    static ComPtr adopt(T* object) {
        ComPtr result;
        result.m_object = object;
        return result;
    }

    void reset() {
        if (T* object = std::exchange(m_object, nullptr))
            object->Release();
    }
    T* get() const { return m_object; }
    T* operator->() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }
    // Releases what is held and gives the slot to an out parameter.
    T** put() {
        reset();
        return &m_object;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    // Hands the reference to the caller.
    T* detach() { return std::exchange(m_object, nullptr); }

    // Queries the object for another interface; empty when it lacks it.
    template <class U> ComPtr<U> as() const {
        ComPtr<U> result;
        if (m_object)
            m_object->QueryInterface(U::kIid, result.putVoid());
        return result;
    }

private:
    T* m_object = nullptr;
};

// Late-bound helpers over IDispatch::Invoke. Arguments are given in natural order.
HRESULT getProperty(IDispatch* object, DISPID id, VARIANT* result);
HRESULT putProperty(IDispatch* object, DISPID id, const VARIANT& value);
HRESULT callMethod(IDispatch* object, DISPID id, std::initializer_list<VARIANT> args,
                   VARIANT* result = nullptr);

} // namespace com
