// Libraries the loader must refuse: built with QUIVA_BROKEN_ABI it claims another component ABI;
// with QUIVA_BROKEN_EXPORTS it has the ABI export but no DllGetClassObject. Built with
// QUIVA_BROKEN_CONSTRUCTOR it ends the process that loads it before any check can run. Built
// with QUIVA_NESTED_FACTORY it is sound, but its class factory is the test control's, fetched
// through the runtime while the runtime asks it for its own.

#include "platform/com/Server.h"

#ifdef QUIVA_BROKEN_ABI
extern "C" QUIVA_COM_EXPORT std::uint32_t QuivaComAbiVersion() {
    return com::kAbiVersion + 1;
}
extern "C" QUIVA_COM_EXPORT HRESULT DllGetClassObject(REFCLSID, REFIID, void**) {
    return E_FAIL;
}
extern "C" QUIVA_COM_EXPORT HRESULT DllCanUnloadNow() {
    return S_OK;
}
#endif

#ifdef QUIVA_BROKEN_EXPORTS
QUIVA_COM_EXPORT_ABI_VERSION()
extern "C" QUIVA_COM_EXPORT HRESULT DllCanUnloadNow() {
    return S_OK;
}
#endif

#ifdef QUIVA_NESTED_FACTORY
#include "platform/com/Runtime.h"
#include "tests/platform/testcontrol/TestControl.h"

QUIVA_COM_EXPORT_ABI_VERSION()
extern "C" QUIVA_COM_EXPORT HRESULT DllGetClassObject(REFCLSID, REFIID iid, void** out) {
    return CoGetClassObject(testcontrol::kClsid, CLSCTX_INPROC_SERVER, nullptr, iid, out);
}
extern "C" QUIVA_COM_EXPORT HRESULT DllCanUnloadNow() {
    return S_OK;
}
#endif

#ifdef QUIVA_BROKEN_CONSTRUCTOR
#include "tests/platform/testcontrol/TestControl.h"

#include <unistd.h>

[[gnu::constructor]] static void endTheProcess() {
    _exit(testcontrol::kBrokenConstructorExitCode);
}
#endif
