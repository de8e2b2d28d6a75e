// The built library as the player meets it: registered into a registry in memory, created by
// class identifier, and driven late-bound by DISPID.

#include "platform/com/PropertyBag.h"
#include "platform/com/Runtime.h"
#include "platform/mixer/FakeMixer.h"
#include "platform/registry/Registry.h"
#include "platform/registry/Stores.h"
#include "volume/PemrikGuids.h"

#include <QPixmap>
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <string>

namespace {

using mixer::ComponentType;
using mixer::ControlType;
using ServerCall = HRESULT (*)();

std::string libraryPath() {
    const char* build = std::getenv("QUIVA_BUILD_DIR");
    return std::string(build ? build : ".") + "/lib/libDalvex.so";
}

// The text of a value under HKEY_CLASSES_ROOT, or "<missing>".
std::string classesText(const std::string& key, const char* valueName) {
    HKEY handle = 0;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return "<missing>";
    char data[1024] = {};
    DWORD size = sizeof(data);
    const LONG result =
        RegQueryValueExA(handle, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(handle);
    return result == ERROR_SUCCESS ? std::string(data) : "<missing>";
}

bool classesKeyExists(const std::string& key) {
    HKEY handle = 0;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

// The library loaded and registered in a registry of its own, on a fake mixer whose wave-out
// line holds 60 of 100.
class DalvexLibraryTest : public ::testing::Test {
protected:
    DalvexLibraryTest() : m_scope(m_mixer) {
        m_mixer.addDevice();
        m_mixer.addControl(0, ComponentType::WaveOut, ControlType::Volume, 0, 65535, 60 * 655);
        m_mixer.addControl(0, ComponentType::WaveOut, ControlType::Mute, 0, 1, 0);
        HRESULT failure = S_OK;
        m_library = com::loadServerLibrary(libraryPath(), &failure);
        EXPECT_NE(m_library, nullptr) << com::lastError();
    }

    HRESULT callExport(const char* name) {
        auto call = reinterpret_cast<ServerCall>(dlsym(m_library, name));
        return call ? call() : E_FAIL;
    }

    // The host's own creation: by class identifier, then loaded from its saved data.
    com::ComPtr<IDispatch> createAsTheHostDoes() {
        com::ComPtr<IDispatch> control;
        EXPECT_EQ(CoCreateInstance(pemrik::kClsidDalvex, nullptr, CLSCTX_INPROC_SERVER,
                                   IDispatch::kIid, control.putVoid()),
                  S_OK)
            << com::lastError();
        if (!control)
            return control;
        auto saved = com::makePropertyBag();
        const VARIANT volume = com::makeI4(100);
        saved->Write("volume", &volume);
        EXPECT_EQ(control.as<IPersistPropertyBag>()->Load(saved.get()), S_OK);
        return control;
    }

    registry::ScopedInMemoryStore m_store;
    mixer::FakeMixer m_mixer;
    mixer::ScopedService m_scope;
    void* m_library = nullptr;
};

TEST_F(DalvexLibraryTest, RegistersItsClassProgIdAndTypeLibrary) {
    ASSERT_EQ(callExport("DllRegisterServer"), S_OK) << com::lastError();
    const std::string clsid = "CLSID\\" + com::toString(pemrik::kClsidDalvex);
    char resolved[PATH_MAX] = {};
    ASSERT_NE(realpath(libraryPath().c_str(), resolved), nullptr);
    EXPECT_EQ(classesText(clsid + "\\InprocServer32", ""), resolved);
    EXPECT_EQ(classesText(clsid + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(classesText(clsid + "\\ProgID", ""), "Pemrik.Dalvex");
    EXPECT_TRUE(classesKeyExists(clsid + "\\Control"));
    EXPECT_EQ(classesText(clsid + "\\ToolboxBitmap32", ""), std::string(resolved) + ", 30000");
    EXPECT_EQ(classesText(clsid + "\\TypeLib", ""), com::toString(pemrik::kLibid));
    EXPECT_TRUE(classesKeyExists("TypeLib\\" + com::toString(pemrik::kLibid) + "\\1.0"));

    CLSID found = GUID_NULL;
    ASSERT_EQ(CLSIDFromProgID("Pemrik.Dalvex", &found), S_OK);
    EXPECT_EQ(found, pemrik::kClsidDalvex);

    ASSERT_EQ(callExport("DllUnregisterServer"), S_OK);
    EXPECT_FALSE(classesKeyExists(clsid));
    EXPECT_FALSE(classesKeyExists("Pemrik.Dalvex"));
    com::ComPtr<IDispatch> control;
    EXPECT_EQ(CoCreateInstance(pemrik::kClsidDalvex, nullptr, CLSCTX_INPROC_SERVER, IDispatch::kIid,
                               control.putVoid()),
              REGDB_E_CLASSNOTREG);
}

TEST_F(DalvexLibraryTest, HostReadsAndPutsVolumeByDispatchIdentifier) {
    ASSERT_EQ(callExport("DllRegisterServer"), S_OK) << com::lastError();
    com::ComPtr<IDispatch> control = createAsTheHostDoes();
    ASSERT_TRUE(control);

    // Get: no arguments, the value comes back as VT_I4.
    DISPPARAMS none;
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(control->Invoke(pemrik::kDispidVolume, DISPATCH_PROPERTYGET, &none, &result, nullptr),
              S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 100) << "before any tick the host sees the saved volume";

    // Put: one VT_I4 argument named DISPID_PROPERTYPUT.
    VARIANT value = com::makeI4(42);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{&value, &named, 1, 1};
    ASSERT_EQ(control->Invoke(pemrik::kDispidVolume, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(m_mixer.value(0, ComponentType::WaveOut, ControlType::Volume), 42 * 655);

    EXPECT_EQ(callExport("DllCanUnloadNow"), S_FALSE);
    control.reset();
    EXPECT_EQ(callExport("DllCanUnloadNow"), S_OK);
    EXPECT_EQ(m_mixer.openHandles(), 0);
}

TEST_F(DalvexLibraryTest, CarriesItsVersionBlockAndPictures) {
    auto versionInfo = reinterpret_cast<const char* (*)()>(dlsym(m_library, "DalvexVersionInfo"));
    ASSERT_NE(versionInfo, nullptr);
    const std::string block = versionInfo();
    for (const char* line :
         {"FileVersion=1.00\n", "ProductVersion=1.00\n", "ProductName=Dalvex\n",
          "InternalName=Dalvex\n", "OriginalFilename=Dalvex.ocx\n", "OLESelfRegister"})
        EXPECT_NE(block.find(line), std::string::npos) << line;

    const QPixmap face(QStringLiteral(":/dalvex/face.png"));
    EXPECT_EQ(face.size(), QSize(32, 32));
    const QPixmap toolbox(QStringLiteral(":/dalvex/bitmap/30000"));
    EXPECT_EQ(toolbox.size(), QSize(16, 15));

    auto typeLibrary = reinterpret_cast<const char* (*)()>(dlsym(m_library, "DalvexTypeLibrary"));
    ASSERT_NE(typeLibrary, nullptr);
    EXPECT_NE(std::string(typeLibrary()).find("coclass Dalvex"), std::string::npos);
}

} // namespace
