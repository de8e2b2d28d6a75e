#pragma once

// The registry: a tree of keys under three roots, each key holding named values and a default
// (unnamed) value. Key and value names are matched without regard to case. The calls keep the
// shapes of the classic registry API, so that callers written against it read the same here.
// Results are the classic error numbers: 0 on success, never an exception.
// Thread-safe: one lock guards every call. Where the keys live: Stores.h; computed keys:
// Providers.h.

#include "platform/BasicTypes.h"

using HKEY = std::uint32_t;
using REGSAM = std::uint32_t;

inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG ERROR_BADDB = 1009;       // the store's file is damaged: writes refused
inline constexpr LONG ERROR_KEY_DELETED = 1018; // the key of an open handle was deleted

// Opens a sub-key of an open key or root. An empty or null sub-key opens the key itself again.
// A store that the caller may not write refuses an open whose mask asks for any write right
// (KEY_SET_VALUE, KEY_CREATE_SUB_KEY, KEY_CREATE_LINK) with ERROR_ACCESS_DENIED.
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM access, HKEY* result);

// Value number `index` of an open key, in a stable order. `nameChars` holds the name buffer's
// size in characters on entry and the name's length (without the terminating zero) on return;
// `dataBytes` the data buffer's size on entry and the data's length on return. Texts are
// stored with their terminating zero. A name or data that does not fit: ERROR_MORE_DATA.
// Past the last value: ERROR_NO_MORE_ITEMS. `type`, `data` and `dataBytes` may be null.
LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameChars, DWORD* reserved,
                   DWORD* type, BYTE* data, DWORD* dataBytes);

// One value by name (null or empty: the default value), with the same buffer rules.
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataBytes);

LONG RegCloseKey(HKEY key);

// Registration: create (or open) a key with all its parents, set and delete values and keys.
LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                     REGSAM access, void* security, HKEY* result, DWORD* disposition);
LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataBytes);
LONG RegDeleteValueA(HKEY key, const char* valueName);
// Deletes a key with everything below it.
LONG RegDeleteTreeA(HKEY key, const char* subKey);
