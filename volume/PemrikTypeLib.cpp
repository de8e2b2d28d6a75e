#include "volume/PemrikTypeLib.h"

#include "volume/PemrikGuids.h"

#include <array>
#include <sstream>

namespace pemrik {
namespace {

constexpr const char* kEnabledHelp =
    "Returns/sets a value that determines whether an object can respond to user-generated events.";

constexpr std::array<EnumMember, 7> kControlDevices{{
    {"mMaster", 0},
    {"mLineIn", 1},
    {"mMicrophone", 2},
    {"mSynthesizer", 3},
    {"mCD", 4},
    {"mWave", 5},
    {"mAuxiliary", 6},
}};

constexpr std::array<InterfaceSlot, 8> kDalvexInterface{{
    {"Enabled", Accessor::Get, "VARIANT_BOOL", kDispidEnabled, "", kEnabledHelp},
    {"Enabled", Accessor::Put, "VARIANT_BOOL", kDispidEnabled, "New_Enabled", kEnabledHelp},
    {"Volume", Accessor::Get, "long", kDispidVolume, "", ""},
    {"Volume", Accessor::Put, "long", kDispidVolume, "New_Volume", ""},
    {"Mute", Accessor::Get, "VARIANT_BOOL", kDispidMute, "", ""},
    {"Mute", Accessor::Put, "VARIANT_BOOL", kDispidMute, "New_mute", ""},
    {"DeviceToControl", Accessor::Get, "ControlDevices", kDispidDeviceToControl, "", ""},
    {"DeviceToControl", Accessor::Put, "ControlDevices", kDispidDeviceToControl,
     "New_DeviceToControl", ""},
}};

constexpr std::array<EventMember, 2> kDalvexEvents{{
    {kDispidMuteChanged, "MuteChanged", "NewMute", "VARIANT_BOOL"},
    {kDispidVolumeChanged, "VolumeChanged", "NewVolume", "long"},
}};

std::string uuid(const GUID& guid) {
    const std::string braced = com::toString(guid);
    return braced.substr(1, braced.size() - 2);
}

void writeSlot(std::ostream& out, const InterfaceSlot& slot) {
    out << "        [id(0x" << std::hex << slot.id << std::dec << "), "
        << (slot.accessor == Accessor::Get ? "propget" : "propput");
    if (*slot.helpString)
        out << ", helpstring(\"" << slot.helpString << "\")";
    out << "]\n        HRESULT " << slot.member << "(";
    if (slot.accessor == Accessor::Get)
        out << "[out, retval] " << slot.type << "* ";
    else
        out << "[in] " << slot.type << " " << slot.parameter;
    out << ");\n";
}

std::string render() {
    std::ostringstream out;
    out << "[uuid(" << uuid(kLibid) << "), version(1.0), lcid(0x0409), control,\n"
        << " helpstring(\"Pemrik\")]\nlibrary Pemrik\n{\n";
    out << "    typedef enum {\n";
    for (const EnumMember& member : kControlDevices)
        out << "        " << member.name << " = " << member.value << ",\n";
    out << "    } ControlDevices;\n\n";
    out << "    [uuid(" << uuid(kIidDalvex) << "), hidden, dual, nonextensible,"
        << " oleautomation]\n    interface _Dalvex : IDispatch {\n";
    for (const InterfaceSlot& slot : kDalvexInterface)
        writeSlot(out, slot);
    out << "    };\n\n";
    out << "    [uuid(" << uuid(kIidDalvexEvents) << "), hidden, nonextensible]\n"
        << "    dispinterface __Dalvex {\n        properties:\n        methods:\n";
    for (const EventMember& event : kDalvexEvents)
        out << "        [id(0x" << std::hex << event.id << std::dec << ")] void " << event.name
            << "([in, out] " << event.type << "* " << event.parameter << ");\n";
    out << "    };\n\n";
    out << "    [uuid(" << uuid(kClsidDalvex) << "), control]\n    coclass Dalvex {\n"
        << "        [default] interface _Dalvex;\n"
        << "        [default, source] dispinterface __Dalvex;\n    };\n};\n";
    return out.str();
}

} // namespace

std::span<const EnumMember> controlDevices() {
    return kControlDevices;
}
std::span<const InterfaceSlot> dalvexInterface() {
    return kDalvexInterface;
}
std::span<const EventMember> dalvexEvents() {
    return kDalvexEvents;
}

const std::string& typeLibraryText() {
    static const std::string text = render();
    return text;
}

} // namespace pemrik
