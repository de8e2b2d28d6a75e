#pragma once

// Identifiers of the small control library built only for the tests ("Quivatest.TestControl").

#include "platform/com/Interfaces.h"

namespace testcontrol {

inline constexpr GUID kLibid = guidOf(0xDEADA99E, 0xEC3A, 0x4109, 0xA075BC75A8122476);
inline constexpr CLSID kClsid = guidOf(0x2991BA0E, 0x2075, 0x4594, 0x90F26752D19B3640);
inline constexpr IID kIid = guidOf(0x165D7D1C, 0x69D4, 0x4894, 0x9DA401923C36D6F4);
inline constexpr IID kIidEvents = guidOf(0x9A5FD16E, 0xF014, 0x482E, 0xABD251241F674920);
inline constexpr const char* kProgId = "Quivatest.TestControl";

// Members of the default interface.
inline constexpr DISPID kDispidLevel = 0x10;   // Long, saved as "Level" (default 0)
inline constexpr DISPID kDispidFlag = 0x11;    // Boolean, saved as "Flag" (default True)
inline constexpr DISPID kDispidCaption = 0x12; // String, saved as "Caption" (default "")
inline constexpr DISPID kDispidTicking = 0x13; // Boolean: the 10 ms timer runs
// Method Bump(amount As Long): raises LevelChanged(Level + amount) and stores what the handler
// leaves in the argument.
inline constexpr DISPID kDispidBump = 0x20;

// Events.
inline constexpr DISPID kDispidLevelChanged = 1; // (ByRef NewLevel As Long)
inline constexpr DISPID kDispidTick = 2;         // ()

// The exit code of a process that loads the library whose constructor ends it.
inline constexpr int kBrokenConstructorExitCode = 42;

} // namespace testcontrol
