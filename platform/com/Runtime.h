#pragma once

// Creating objects of in-process servers (shared libraries) by class identifier.
//
// A class is registered under HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32, whose default value
// is the library's absolute path; a ProgID under HKEY_CLASSES_ROOT\<ProgID>\CLSID. Only a regular
// file is loaded, and only when neither it nor any folder on its real path may be changed by
// users other than its owner and root (a folder of root's with the sticky bit, such as /tmp,
// counts as safe). Before the library's code first runs, a line "quiva: loading component
// library <real path>" goes to stderr, so that a library that ends the process is named. The
// library is loaded with dlopen on first use, must export QuivaComAbiVersion (returning
// com::kAbiVersion, Server.h) and DllGetClassObject, and stays loaded at least while any of its
// objects or server locks lives: only CoFreeUnusedLibraries unloads, and only libraries whose
// DllCanUnloadNow says S_OK.
//
// Thread rule: callable from any thread; the objects created belong to the calling thread.
// Errors: every failure returns its own HRESULT and leaves a readable one-line explanation for
// com::lastError() on the calling thread; nothing throws or ends the process.
//   REGDB_E_CLASSNOTREG   no such class, or no library path registered for it
//   CO_E_CLASSSTRING      a ProgID or GUID text that names no class
//   CO_E_DLLNOTFOUND      the library cannot be loaded (a relative path, a missing file or one
//                         that is not regular, bad format: the dlerror text)
//   E_ACCESSDENIED        the library, or a folder on its path, may be changed by other users
//   CO_E_WRONG_ABI        the library was built for another component ABI
//   CO_E_ERRORINDLL       a required export is missing
//   E_NOINTERFACE         the object lacks the interface asked for
//   CLASS_E_NOAGGREGATION an outer object was given
//   other                 what the library's DllGetClassObject or CreateInstance returned

#include "platform/com/Interfaces.h"

#include <optional>
#include <string>

inline constexpr DWORD CLSCTX_INPROC_SERVER = 1;

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* reserved, REFIID iid, void** object);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object);
// ProgID -> class identifier through HKEY_CLASSES_ROOT\<ProgID>\CLSID.
HRESULT CLSIDFromProgID(const char* progId, CLSID* clsid);
// "{...}" text or a ProgID.
HRESULT CLSIDFromString(const char* text, CLSID* clsid);
// Unloads libraries that report they can be (DllCanUnloadNow == S_OK).
void CoFreeUnusedLibraries();

namespace com {

// The explanation of the last failure on this thread ("" after a success).
std::string lastError();
// Records the explanation for lastError() (used by the runtime's own parts).
void setLastError(std::string text);

// The default text value of HKEY_CLASSES_ROOT\<path>; nullopt when there is none.
std::optional<std::string> readDefaultText(const std::string& path);

// Loads a library and checks its ABI and exports, as creation does (quiva-regsvr uses this
// too). Returns the dlopen handle or null with lastError() set; `failure` receives the HRESULT.
void* loadServerLibrary(const std::string& path, HRESULT* failure);

} // namespace com
