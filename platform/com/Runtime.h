#pragma once

// Creating objects of in-process servers (shared libraries) by class identifier.
//
// A class is registered under HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32, whose default value
// is the library's absolute path; a ProgID under HKEY_CLASSES_ROOT\<ProgID>\CLSID. The path is
// followed element by element, every link read on the way, and the library is refused when users
// other than root and the one running us could change where it leads: a folder or link on the
// way in a folder they may write (a sticky folder of root's or ours, such as /tmp, is safe for
// entries of root's or ours), or a library that is not a regular file of root's or ours that
// only its owner may write. The very file checked is then loaded, through its open descriptor
// (/proc/self/fd/N), so nothing can be swapped in between. Before the library's code first runs,
// a line "quiva: loading component library <real path>" goes to stderr, so that a library that
// ends the process is named. The library is loaded on first use, must export QuivaComAbiVersion
// (returning com::kAbiVersion, Server.h) and DllGetClassObject, and stays loaded at least while
// any of its objects or server locks lives: only CoFreeUnusedLibraries unloads, and only
// libraries whose DllCanUnloadNow says S_OK.
//
// Thread rule: callable from any thread; the objects created belong to the calling thread.
// Errors: every failure returns its own HRESULT and leaves a readable one-line explanation for
// com::lastError() on the calling thread; nothing throws or ends the process.
//   REGDB_E_CLASSNOTREG   no such class, or no library path registered for it
//   CO_E_CLASSSTRING      a ProgID or GUID text that names no class
//   CO_E_DLLNOTFOUND      the library cannot be loaded (a relative path, a missing file or one
//                         that is not regular, bad format: the dlerror text)
//   E_ACCESSDENIED        other users may change the library or where its path leads
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
// The descriptor it was loaded through stays open for the life of the process: the loader knows
// the library by the name /proc/self/fd/N for as long as any handle to it lives, and would take
// a later library opened at that number for this one.
void* loadServerLibrary(const std::string& path, HRESULT* failure);

// "CLSID\{clsid}\InprocServer32", under HKEY_CLASSES_ROOT: whose default value is the path of
// the library serving the class.
std::string inprocServerKey(REFCLSID clsid);

} // namespace com
