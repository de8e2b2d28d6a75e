#pragma once

// What an in-process server library (a control library) writes: its object count, its class
// factory, its exports and its registry entries.
//
// A library serving one user-control class writes, once:
//
//     namespace {
//     com::ModuleCount g_module;
//     com::ClassRegistration registration() {
//         com::ClassRegistration entry;
//         entry.clsid = kClsidMyControl;
//         entry.progId = "My.Control";
//         entry.libraryPath = com::libraryPathOf(&g_module);
//         return entry;
//     }
//     } // namespace
//
//     QUIVA_COM_SERVER_EXPORTS(MyControl, kClsidMyControl, g_module, registration)
//
// where MyControl derives from com::UserControl and is constructed from a com::ModuleCount*.

#include "platform/com/Object.h"

#include <functional>
#include <string>

#define QUIVA_COM_EXPORT __attribute__((visibility("default")))

namespace com {

// Version of the component ABI: the interface layouts of Interfaces.h and the UserControl
// base. Raised whenever either changes incompatibly; a library of another version is refused.
inline constexpr std::uint32_t kAbiVersion = 1;

// Live objects plus server locks of one library.
class ModuleCount {
public:
    void lock() { ++m_count; }
    void unlock() { --m_count; }
    bool idle() const { return m_count == 0; }

private:
    std::atomic<long> m_count{0};
};

// A class factory over a function that makes one object (returning it with one reference, as
// `new` on an Object does). The factory itself counts as a lock while it lives.
class ClassFactory : public Object<IClassFactory> {
public:
    using Make = std::function<IUnknown*()>;
    ClassFactory(ModuleCount& module, Make make) : m_module(module), m_make(std::move(make)) {
        m_module.lock();
    }
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        IUnknown* made = m_make();
        if (!made)
            return E_OUTOFMEMORY;
        const HRESULT result = made->QueryInterface(iid, object);
        made->Release();
        return result;
    }
    HRESULT LockServer(BOOL lock) override {
        lock ? m_module.lock() : m_module.unlock();
        return S_OK;
    }

private:
    ~ClassFactory() override { m_module.unlock(); }
    ModuleCount& m_module;
    Make m_make;
};

// What DllRegisterServer writes for one class.
struct ClassRegistration {
    CLSID clsid;
    std::string progId;      // "Pemrik.Dalvex"
    std::string description; // the class's name, default value of the keys
    std::string libraryPath; // absolute
    std::string threadingModel = "Apartment";
    bool control = true;      // writes the "Control" marker key
    int toolboxBitmapId = 0;  // writes ToolboxBitmap32 "<path>, <id>" when not 0
    GUID typeLib = GUID_NULL; // writes TypeLib entries when not GUID_NULL
    std::string typeLibVersion = "1.0";
    std::string typeLibName; // help string of the type library
    std::string typeLibLocale = "409";
    int typeLibFlags = 2; // 2: a control library
};

// DllGetClassObject of a library serving the one class `served`: a class factory whose objects
// `make` makes, counted in `module`. CLASS_E_CLASSNOTAVAILABLE for any other class.
HRESULT getClassObject(ModuleCount& module, REFCLSID served, ClassFactory::Make make,
                       REFCLSID clsid, REFIID iid, void** out);

// Absolute path of the shared object that contains `address` (dladdr, then realpath).
std::string libraryPathOf(const void* address);

// Writes (or removes) the entries: HKCR\CLSID\{clsid} with InprocServer32 (path and
// ThreadingModel), ProgID, Control, ToolboxBitmap32, TypeLib and Version; HKCR\<ProgID> with
// CLSID; HKCR\TypeLib\{typeLib}\<version> with 0\linux = path and FLAGS. SELFREG_E_CLASS when
// the registry refuses (the explanation goes to com::lastError()). Removal tries every tree and
// says each refusal on stderr; it fails only while an entry still names this very library.
HRESULT registerServer(const ClassRegistration& registration);
HRESULT unregisterServer(const ClassRegistration& registration);

} // namespace com

// The export that tells the loader which ABI the library was built for.
#define QUIVA_COM_EXPORT_ABI_VERSION()                                                             \
    extern "C" QUIVA_COM_EXPORT std::uint32_t QuivaComAbiVersion() {                               \
        return com::kAbiVersion;                                                                   \
    }

// The exports of an in-process server of the one user-control class `Class`, served under
// `clsid`, its objects and locks counted in `module`, registered as `registration()` says:
// QuivaComAbiVersion, DllGetClassObject, DllCanUnloadNow, DllRegisterServer and
// DllUnregisterServer.
#define QUIVA_COM_SERVER_EXPORTS(Class, clsid, module, registration)                               \
    QUIVA_COM_EXPORT_ABI_VERSION()                                                                 \
    extern "C" QUIVA_COM_EXPORT HRESULT DllGetClassObject(REFCLSID asked, REFIID iid,              \
                                                          void** out) {                            \
        return com::getClassObject(                                                                \
            module, clsid, [] { return com::createControl<Class>(&module)->identity(); }, asked,   \
            iid, out);                                                                             \
    }                                                                                              \
    extern "C" QUIVA_COM_EXPORT HRESULT DllCanUnloadNow() {                                        \
        return module.idle() ? S_OK : S_FALSE;                                                     \
    }                                                                                              \
    extern "C" QUIVA_COM_EXPORT HRESULT DllRegisterServer() {                                      \
        return com::registerServer(registration());                                                \
    }                                                                                              \
    extern "C" QUIVA_COM_EXPORT HRESULT DllUnregisterServer() {                                    \
        return com::unregisterServer(registration());                                              \
    }
