#pragma once

// The fixed identifiers of the volume control library, shared by the player (which creates the
// control by class identifier and binds its `Volume` late) and the library itself; the platform
// knows no particular component. Never change them: saved layouts and registrations carry them.

#include "platform/com/Interfaces.h"

namespace pemrik {

// Type library `Pemrik` 1.0.
inline constexpr GUID kLibid = guidOf(0x6B433854, 0xBC8D, 0x4219, 0x8E2F5857850C6399);
// Class `Dalvex`, ProgID "Pemrik.Dalvex".
inline constexpr CLSID kClsidDalvex = guidOf(0x8CE00BF8, 0x8A01, 0x454F, 0xB127C1EE4FFE2BE8);
// Dual interface `_Dalvex` (the class's default interface).
inline constexpr IID kIidDalvex = guidOf(0xA0B647CF, 0xBC4E, 0x4A10, 0xB10001F9F0EA5D64);
// Event interface `__Dalvex` (the class's default source).
inline constexpr IID kIidDalvexEvents = guidOf(0x37A88FFE, 0x1B68, 0x483E, 0xA3947D9FDDC65F6F);

inline constexpr const char* kProgId = "Pemrik.Dalvex";

// DISPIDs of `_Dalvex` and `__Dalvex`.
inline constexpr DISPID kDispidDeviceToControl = 0x68030000;
inline constexpr DISPID kDispidMute = 0x68030001;
inline constexpr DISPID kDispidVolume = 0x68030002;
inline constexpr DISPID kDispidEnabled = 0x68030003;
inline constexpr DISPID kDispidMuteChanged = 1;
inline constexpr DISPID kDispidVolumeChanged = 2;

} // namespace pemrik
