// The runtime's core rules: identifiers, variants, reference counting, QueryInterface,
// late binding and property bags.

#include "platform/com/Dispatch.h"
#include "platform/com/PropertyBag.h"

#include <gtest/gtest.h>

namespace {

using com::ComPtr;

TEST(GuidTest, PrintsAndParsesTheBracedForm) {
    const GUID guid = guidOf(0x8CE00BF8, 0x8A01, 0x454F, 0xB127C1EE4FFE2BE8);
    EXPECT_EQ(com::toString(guid), "{8CE00BF8-8A01-454F-B127-C1EE4FFE2BE8}");
    EXPECT_EQ(com::parseGuid("{8ce00bf8-8a01-454f-b127-c1ee4ffe2be8}"), guid);
    EXPECT_EQ(com::parseGuid("8CE00BF8-8A01-454F-B127-C1EE4FFE2BE8"), guid);
    for (const char* bad :
         {"", "{}", "{8CE00BF8-8A01-454F-B127-C1EE4FFE2BE}",
          "{8CE00BF8-8A01-454F-B127-C1EE4FFE2BEX}", "{8CE00BF8+8A01-454F-B127-C1EE4FFE2BE8}",
          "{8CE00BF8-8A01-454F-B127-C1EE4FFE2BE8"})
        EXPECT_FALSE(com::parseGuid(bad)) << bad;
}

// Conversions as late binding makes them: booleans are -1 and 0, texts convert only whole,
// narrowing overflows, a reference reads through, and an unknown type is refused.
TEST(VariantTest, ConvertsAsLateBindingDoes) {
    EXPECT_EQ(com::makeBool(true).boolVal, -1);
    EXPECT_EQ(com::makeBool(false).boolVal, 0);
    std::int16_t small = -5;
    VARIANT unknown{};
    unknown.vt = VT_UNKNOWN;
    const struct {
        const char* what;
        com::Variant value;
        VARTYPE type;
        HRESULT result;
        const char* text; // of the converted value
    } cases[] = {
        {"true as a number", com::Variant(com::makeBool(true)), VT_I4, S_OK, "-1"},
        {"false as text", com::Variant(com::makeBool(false)), VT_BSTR, S_OK, "False"},
        {"5 as a boolean", com::Variant(com::makeI4(5)), VT_BOOL, S_OK, "True"},
        {"'True' as a boolean", com::Variant(com::makeBstr("True")), VT_BOOL, S_OK, "True"},
        {"'-42' as a number", com::Variant(com::makeBstr("-42")), VT_I4, S_OK, "-42"},
        {"'12abc' as a number", com::Variant(com::makeBstr("12abc")), VT_I4, DISP_E_TYPEMISMATCH,
         nullptr},
        {"70000 as a short", com::Variant(com::makeI4(70000)), VT_I2, DISP_E_OVERFLOW, nullptr},
        {"a short by reference", com::Variant(com::byRef(small)), VT_I4, S_OK, "-5"},
        {"an unknown type", com::Variant(unknown), VT_I4, DISP_E_BADVARTYPE, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        com::Variant converted;
        EXPECT_EQ(VariantChangeType(converted.get(), c.value.get(), c.type), c.result);
        if (c.text) {
            EXPECT_EQ(converted.type(), c.type);
            EXPECT_EQ(com::toText(*converted), c.text);
        }
    }
    EXPECT_EQ(com::toLong(com::makeBool(true)), -1);
    EXPECT_EQ(com::toBool(com::makeI4(5)), true);
    com::Variant garbage(com::makeBstr("12abc"));
    EXPECT_EQ(com::toLong(*garbage), std::nullopt);
}

TEST(VariantTest, CopiesOwnTheirStrings) {
    com::Variant original(com::makeBstr("volume"));
    com::Variant copy = original;
    EXPECT_NE(copy.get()->bstrVal, original.get()->bstrVal);
    EXPECT_EQ(com::toText(*copy), "volume");
    EXPECT_EQ(SysStringLen(copy.get()->bstrVal), 6u);
}

// An object whose destruction the test can watch.
class Watched : public com::Object<IPropertyNotifySink, IPropertyBag> {
public:
    explicit Watched(bool& destroyed) : m_destroyed(destroyed) {}
    HRESULT OnChanged(DISPID, const char*) override { return S_OK; }
    HRESULT Read(const char*, VARIANT*) override { return E_INVALIDARG; }
    HRESULT Write(const char*, const VARIANT*) override { return S_OK; }

private:
    ~Watched() override { m_destroyed = true; }
    bool& m_destroyed;
};

TEST(ReferenceTest, LastReleaseDestroysAndComPtrBalancesReferences) {
    bool destroyed = false;
    auto* raw = new Watched(destroyed);
    {
        auto held = ComPtr<IPropertyNotifySink>::adopt(raw);
        ComPtr<IPropertyNotifySink> copy = held;
        EXPECT_EQ(raw->AddRef(), 3u);
        EXPECT_EQ(raw->Release(), 2u);
        ComPtr<IPropertyNotifySink> moved = std::move(copy);
        EXPECT_FALSE(copy);
        auto bag = held.as<IPropertyBag>();
        ASSERT_TRUE(bag);
        EXPECT_EQ(raw->AddRef(), 4u) << "held, moved and bag";
        raw->Release();
    }
    EXPECT_TRUE(destroyed);
}

TEST(QueryInterfaceTest, IdentityIsStableAndFailuresStoreNull) {
    bool destroyed = false;
    auto sink = ComPtr<IPropertyNotifySink>::adopt(new Watched(destroyed));
    auto bag = sink.as<IPropertyBag>();
    auto unknownFromSink = sink.as<IUnknown>();
    auto unknownFromBag = bag.as<IUnknown>();
    EXPECT_EQ(unknownFromSink.get(), unknownFromBag.get()) << "one identity";
    EXPECT_EQ(unknownFromSink.as<IPropertyNotifySink>().get(), sink.get()) << "round trip";

    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(sink->QueryInterface(IDispatch::kIid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(sink->QueryInterface(IUnknown::kIid, nullptr), E_POINTER);
    bag.reset();
    unknownFromSink.reset();
    unknownFromBag.reset();
    EXPECT_FALSE(destroyed);
    sink.reset();
    EXPECT_TRUE(destroyed) << "failed queries added no reference";
}

class DispatchTableTest : public ::testing::Test {
protected:
    DispatchTableTest() {
        m_table.addProperty(
            "Volume", 0x68030002, VT_I4,
            [this](VARIANT* out) { return *out = com::makeI4(m_volume), S_OK; },
            [this](const VARIANT& in) { return m_volume = in.lVal, S_OK; });
        m_table.addProperty("ReadOnly", 5, VT_BOOL,
                            [](VARIANT* out) { return *out = com::makeBool(true), S_OK; });
        m_table.addMethod("Double", 6, {VT_I4 | VT_BYREF}, [](std::span<VARIANT> args, VARIANT*) {
            *args[0].plVal *= 2;
            return S_OK;
        });
    }
    HRESULT put(DISPID id, VARIANT value, UINT* argError = nullptr) {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params{&value, &named, 1, 1};
        return m_table.invoke(id, DISPATCH_PROPERTYPUT, &params, nullptr, argError);
    }

    com::DispatchTable m_table;
    std::int32_t m_volume = 0;
};

TEST_F(DispatchTableTest, NamesResolveWithoutCase) {
    const char* names[] = {"vOLUME"};
    DISPID id = 0;
    EXPECT_EQ(m_table.getIDsOfNames(names, 1, &id), S_OK);
    EXPECT_EQ(id, 0x68030002);
    const char* unknown[] = {"Loudness"};
    EXPECT_EQ(m_table.getIDsOfNames(unknown, 1, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
}

TEST_F(DispatchTableTest, PutConvertsCompatibleTypesAndRefusesOthers) {
    EXPECT_EQ(put(0x68030002, com::makeI2(40)), S_OK);
    EXPECT_EQ(m_volume, 40);
    com::Variant digits(com::makeBstr("55"));
    EXPECT_EQ(put(0x68030002, *digits), S_OK);
    EXPECT_EQ(m_volume, 55);
    com::Variant words(com::makeBstr("loud"));
    UINT argError = 99;
    EXPECT_EQ(put(0x68030002, *words, &argError), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argError, 0u);
    VARIANT object;
    object.vt = VT_UNKNOWN;
    EXPECT_EQ(put(0x68030002, object), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(m_volume, 55) << "failed puts change nothing";
}

TEST_F(DispatchTableTest, UnknownMembersAndWrongShapesAreRefused) {
    VARIANT result;
    EXPECT_EQ(m_table.invoke(0x1234, DISPATCH_PROPERTYGET, nullptr, &result, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(put(5, com::makeBool(false)), DISP_E_MEMBERNOTFOUND) << "no put on a read-only";
    DISPPARAMS none;
    EXPECT_EQ(m_table.invoke(6, DISPATCH_METHOD, &none, nullptr, nullptr), DISP_E_BADPARAMCOUNT);
    VARIANT twoArgs[2] = {com::makeI4(1), com::makeI4(2)};
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS two{twoArgs, &named, 2, 1};
    EXPECT_EQ(m_table.invoke(0x68030002, DISPATCH_PROPERTYPUT, &two, nullptr, nullptr),
              DISP_E_BADPARAMCOUNT);
    VARIANT byValue = com::makeI4(3);
    DISPPARAMS notByRef{&byValue, nullptr, 1, 0};
    EXPECT_EQ(m_table.invoke(6, DISPATCH_METHOD, &notByRef, nullptr, nullptr), DISP_E_TYPEMISMATCH);
}

TEST_F(DispatchTableTest, GetAndByReferenceArgumentsWork) {
    m_volume = 77;
    VARIANT result;
    ASSERT_EQ(m_table.invoke(0x68030002, DISPATCH_PROPERTYGET | DISPATCH_METHOD, nullptr, &result,
                             nullptr),
              S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 77);
    std::int32_t value = 21;
    VARIANT ref = com::byRef(value);
    DISPPARAMS params{&ref, nullptr, 1, 0};
    ASSERT_EQ(m_table.invoke(6, DISPATCH_METHOD, &params, nullptr, nullptr), S_OK);
    EXPECT_EQ(value, 42);
}

TEST(PropertyBagTest, NamesIgnoreCaseKeepFirstSpellingAndValuesConvert) {
    auto bag = com::makePropertyBag();
    VARIANT hundred = com::makeI4(100);
    ASSERT_EQ(bag->Write("volume", &hundred), S_OK);
    VARIANT flag = com::makeBool(false);
    ASSERT_EQ(bag->Write("enable", &flag), S_OK);
    VARIANT replaced = com::makeI4(60);
    ASSERT_EQ(bag->Write("VOLUME", &replaced), S_OK);
    EXPECT_EQ(bag->names(), (std::vector<std::string>{"volume", "enable"}));

    VARIANT read;
    read.vt = VT_I4;
    ASSERT_EQ(bag->Read("Volume", &read), S_OK);
    EXPECT_EQ(read.lVal, 60);
    VARIANT asText;
    asText.vt = VT_BSTR;
    ASSERT_EQ(bag->Read("Enable", &asText), S_OK);
    EXPECT_EQ(com::toText(asText), "False");
    VariantClear(&asText);
    VARIANT missing;
    EXPECT_EQ(bag->Read("DeviceToControl", &missing), E_INVALIDARG);
    VARIANT kept; // VT_EMPTY: the stored type comes back
    ASSERT_EQ(bag->Read("enable", &kept), S_OK);
    EXPECT_EQ(kept.vt, VT_BOOL);
}

} // namespace
