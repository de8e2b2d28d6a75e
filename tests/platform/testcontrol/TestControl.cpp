// A control library for the tests of the component runtime: one class with a property of each
// common type, a method that raises an event with a by-reference argument, and a timer.

#include "tests/platform/testcontrol/TestControl.h"

#include "platform/com/Server.h"
#include "platform/com/UserControl.h"

using namespace testcontrol;

namespace {

com::ModuleCount g_module;

class TestControl : public com::UserControl {
public:
    explicit TestControl(com::ModuleCount* module)
        : UserControl({"TestControl", kClsid, testcontrol::kIid, kIidEvents}, module) {
        dispatch().addProperty(
            "Level", kDispidLevel, VT_I4,
            [this](VARIANT* out) { return *out = com::makeI4(m_level), S_OK; },
            [this](const VARIANT& in) {
                m_level = in.lVal;
                propertyChanged("Level");
                return S_OK;
            });
        dispatch().addProperty(
            "Flag", kDispidFlag, VT_BOOL,
            [this](VARIANT* out) { return *out = com::makeBool(m_flag), S_OK; },
            [this](const VARIANT& in) { return m_flag = in.boolVal != VARIANT_FALSE, S_OK; });
        dispatch().addProperty(
            "Caption", kDispidCaption, VT_BSTR,
            [this](VARIANT* out) { return *out = com::makeBstr(m_caption), S_OK; },
            [this](const VARIANT& in) { return m_caption = *com::toText(in), S_OK; });
        dispatch().addProperty(
            "Ticking", kDispidTicking, VT_BOOL,
            [this](VARIANT* out) { return *out = com::makeBool(m_timer.enabled()), S_OK; },
            [this](const VARIANT& in) {
                m_timer.setEnabled(in.boolVal != VARIANT_FALSE);
                return S_OK;
            });
        dispatch().addMethod("Bump", kDispidBump, {VT_I4},
                             [this](std::span<VARIANT> args, VARIANT*) {
                                 std::int32_t level = m_level + args[0].lVal;
                                 raiseEvent(kDispidLevelChanged, {com::byRef(level)});
                                 m_level = level;
                                 return S_OK;
                             });
    }

protected:
    void UserControl_Initialize() override { setSize(480, 480); }
    void UserControl_InitProperties() override { m_level = 7; }
    void UserControl_ReadProperties(com::PropBag& bag) override {
        m_level = bag.readLong("Level", 0);
        m_flag = bag.readBool("Flag", true);
        m_caption = bag.readString("Caption", "");
    }
    void UserControl_WriteProperties(com::PropBag& bag) override {
        bag.writeLong("Level", m_level, 0);
        bag.writeBool("Flag", m_flag, true);
        bag.writeString("Caption", m_caption, "");
    }

private:
    std::int32_t m_level = 0;
    bool m_flag = true;
    std::string m_caption;
    com::ControlTimer m_timer{*this, 10, false, [this] { raiseEvent(kDispidTick, {}); }};
};

com::ClassRegistration registration() {
    com::ClassRegistration reg;
    reg.clsid = kClsid;
    reg.progId = kProgId;
    reg.description = "TestControl";
    reg.libraryPath = com::libraryPathOf(&g_module);
    reg.typeLib = kLibid;
    reg.typeLibName = "Quivatest";
    return reg;
}

} // namespace

QUIVA_COM_SERVER_EXPORTS(TestControl, kClsid, g_module, registration)
