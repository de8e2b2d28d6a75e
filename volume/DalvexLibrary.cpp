// The in-process server around the `Dalvex` class: the class factory, self-registration, the
// type library and the version block.

#include "platform/com/Server.h"
#include "volume/Dalvex.h"
#include "volume/PemrikGuids.h"
#include "volume/PemrikTypeLib.h"

namespace {

com::ModuleCount g_module;

// The toolbox picture's number, as the registration names it ("<library>, 30000"); the picture
// itself is the resource ":/dalvex/bitmap/30000".
constexpr int kToolboxBitmapId = 30000;

// The version block, readable without loading the library (`readelf -p .quiva.version`) and
// through DalvexVersionInfo when loaded. One "key=value" a line.
[[gnu::used, gnu::section(".quiva.version")]] const char kVersionBlock[] =
    "Language=0x0409\n"
    "CodePage=1200\n"
    "FileVersion=1.00\n"
    "ProductVersion=1.00\n"
    "ProductName=Dalvex\n"
    "InternalName=Dalvex\n"
    "OriginalFilename=Dalvex.ocx\n"
    "OLESelfRegister=\n";

com::ClassRegistration registration() {
    com::ClassRegistration entry;
    entry.clsid = pemrik::kClsidDalvex;
    entry.progId = pemrik::kProgId;
    entry.description = "Dalvex";
    entry.libraryPath = com::libraryPathOf(&g_module);
    entry.threadingModel = "Apartment";
    entry.control = true;
    entry.toolboxBitmapId = kToolboxBitmapId;
    entry.typeLib = pemrik::kLibid;
    entry.typeLibVersion = "1.0";
    entry.typeLibName = "Pemrik";
    entry.typeLibLocale = "409";
    return entry;
}

} // namespace

QUIVA_COM_SERVER_EXPORTS(Dalvex, pemrik::kClsidDalvex, g_module, registration)

extern "C" QUIVA_COM_EXPORT const char* DalvexVersionInfo() {
    return kVersionBlock;
}

// The type library `Pemrik` in the ODL notation.
extern "C" QUIVA_COM_EXPORT const char* DalvexTypeLibrary() {
    return pemrik::typeLibraryText().c_str();
}
