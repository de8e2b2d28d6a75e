#pragma once

#include "platform/com/Com.h"

#include <span>
#include <string>

// The type library `Pemrik` 1.0 as data: what a tool or a host needs to bind to the control
// without a header. The library exports it as text (DalvexTypeLibrary), in the order and with
// the attributes that a classic type library would carry.
namespace pemrik {

struct EnumMember {
    const char* name;
    std::int32_t value;
};

enum class Accessor { Get, Put };

// One slot of the dual interface `_Dalvex`, in slot order.
struct InterfaceSlot {
    const char* member;
    Accessor accessor;
    const char* type; // "VARIANT_BOOL", "long" or "ControlDevices"
    DISPID id;
    const char* parameter;  // a put's parameter; "" for a get
    const char* helpString; // "" when none
};

// One event of `__Dalvex`; its one parameter is passed by reference.
struct EventMember {
    DISPID id;
    const char* name;
    const char* parameter;
    const char* type;
};

std::span<const EnumMember> controlDevices();
std::span<const InterfaceSlot> dalvexInterface();
std::span<const EventMember> dalvexEvents();

// The whole library in the ODL notation.
const std::string& typeLibraryText();

} // namespace pemrik
