// The user-control base as a built-in control uses it: hooks, size, enabled state,
// notifications, events with by-reference arguments, timers, threads and lifetime.

#include "platform/com/UserControl.h"
#include "platform/com/PropertyBag.h"
#include "platform/com/Sinks.h"
#include "tests/support/TimerTurn.h"

#include <QTest>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace {

using com::ComPtr;

constexpr IID kIidProbe = guidOf(0x11111111, 0x2222, 0x3333, 0x4444555566667777);
constexpr IID kIidProbeEvents = guidOf(0x11111111, 0x2222, 0x3333, 0x4444555566667778);
constexpr DISPID kDispidValue = 1;
constexpr DISPID kDispidReport = 2;
constexpr DISPID kEventChanged = 7;
constexpr int kTimer1Ms = 5;

// A control that records which hooks ran and in which order.
class Probe : public com::UserControl {
public:
    Probe(std::vector<std::string>& log, bool& destroyed)
        : UserControl({"Probe", GUID_NULL, kIidProbe, kIidProbeEvents}), m_log(log),
          m_destroyed(destroyed) {
        dispatch().addProperty(
            "Value", kDispidValue, VT_I4,
            [this](VARIANT* out) { return *out = com::makeI4(m_value), S_OK; },
            [this](const VARIANT& in) {
                m_value = in.lVal;
                propertyChanged("Value");
                return S_OK;
            });
        dispatch().addMethod("Report", kDispidReport, {VT_I4},
                             [this](std::span<VARIANT> args, VARIANT*) {
                                 report(args[0].lVal);
                                 return S_OK;
                             });
    }
    ~Probe() override { m_destroyed = true; }

    // What a poll tick does: report a new value; the handler may change it.
    void report(std::int32_t fresh) {
        raiseEvent(kEventChanged, {com::byRef(fresh)});
        m_value = fresh;
    }
    std::int32_t value() const { return m_value; }
    using UserControl::closed;
    using UserControl::enabled;
    using UserControl::hostBackColor;
    using UserControl::propertyChanged;
    using UserControl::setEnabled;
    using UserControl::setSize;
    com::ControlTimer Timer1{*this, kTimer1Ms, false, [this] { ++ticks; }};
    int ticks = 0;

protected:
    void UserControl_Initialize() override {
        m_log.push_back("Initialize");
        setSize(480, 480);
    }
    void UserControl_InitProperties() override { m_log.push_back("InitProperties"); }
    void UserControl_ReadProperties(com::PropBag& bag) override {
        m_log.push_back("ReadProperties");
        m_value = bag.readLong("Value", 0);
        setEnabled(bag.readBool("Enabled", true));
    }
    void UserControl_WriteProperties(com::PropBag& bag) override {
        bag.writeLong("Value", m_value, 0);
        bag.writeBool("Enabled", enabled(), true);
    }
    void UserControl_Resize() override {
        m_log.push_back("Resize");
        setSize(480, 480);
    }
    void UserControl_Terminate() override { m_log.push_back("Terminate"); }

private:
    std::vector<std::string>& m_log;
    bool& m_destroyed;
    std::int32_t m_value = 0;
};

class UserControlTest : public ::testing::Test {
protected:
    ComPtr<Probe> make() { return ComPtr<Probe>::adopt(com::createControl<Probe>(m_log, m_gone)); }
    std::vector<std::string> m_log;
    bool m_gone = false;
};

TEST_F(UserControlTest, HooksRunInTheContainersOrderAndTerminateOnce) {
    auto control = make();
    EXPECT_EQ(m_log, (std::vector<std::string>{"Initialize"}));
    QWidget host;
    ASSERT_EQ(control->SetHost(&host), S_OK);
    auto bag = com::makePropertyBag();
    VARIANT saved = com::makeI4(100);
    bag->Write("value", &saved);
    ASSERT_EQ(control->Load(bag.get()), S_OK);
    EXPECT_EQ(control->value(), 100) << "saved keys in lower case are found";
    ASSERT_EQ(control->InitNew(), S_OK);
    EXPECT_EQ(control->Close(), S_OK);
    EXPECT_EQ(control->Close(), S_OK);
    EXPECT_EQ(m_log, (std::vector<std::string>{"Initialize", "ReadProperties", "InitProperties",
                                               "Terminate"}));
    control.reset();
    EXPECT_TRUE(m_gone);
}

TEST_F(UserControlTest, LastReleaseTerminatesAnUnclosedControl) {
    make().reset();
    EXPECT_TRUE(m_gone);
    EXPECT_EQ(m_log.back(), "Terminate");
}

TEST_F(UserControlTest, ContainerSizeIsOverriddenByTheControlsResize) {
    auto control = make();
    QWidget host;
    control->SetHost(&host);
    ASSERT_EQ(control->SetObjectRect(1800, 6360, 900, 300), S_OK);
    LONG width = 0, height = 0;
    ASSERT_EQ(control->GetExtent(&width, &height), S_OK);
    EXPECT_EQ(width, 480);
    EXPECT_EQ(height, 480);
    QWidget* window = nullptr;
    ASSERT_EQ(control->GetWindow(&window), S_OK);
    EXPECT_EQ(window->parentWidget(), &host);
    EXPECT_EQ(window->geometry(), QRect(120, 424, 32, 32));
    EXPECT_EQ(std::count(m_log.begin(), m_log.end(), "Resize"), 1) << "no resize storm";
}

TEST_F(UserControlTest, WriteOmitsDefaultsAndEnabledIsTheControlsOwn) {
    auto control = make();
    auto bag = com::makePropertyBag();
    ASSERT_EQ(control->Save(bag.get()), S_OK);
    EXPECT_TRUE(bag->names().empty()) << "all at defaults: nothing stored";

    QWidget host;
    control->SetHost(&host);
    host.setEnabled(false);
    EXPECT_TRUE(control->enabled()) << "the host's state is not the control's";
    control->setEnabled(false);
    ASSERT_EQ(control->Save(bag.get()), S_OK);
    EXPECT_EQ(bag->names(), (std::vector<std::string>{"Enabled"}));
}

TEST_F(UserControlTest, PropertyChangesReachTheContainerByNameAndDispid) {
    auto control = make();
    std::vector<std::pair<DISPID, std::string>> changes;
    auto sink = ComPtr<com::PropertyNotifySink>::adopt(new com::PropertyNotifySink(
        [&](DISPID id, const std::string& name) { changes.emplace_back(id, name); }));
    DWORD cookie = 0;
    ASSERT_EQ(
        com::connectSink(control->identity(), IPropertyNotifySink::kIid, sink->identity(), &cookie),
        S_OK);
    ASSERT_EQ(com::putProperty(control.get(), kDispidValue, com::makeI4(3)), S_OK);
    control->propertyChanged("Other");
    EXPECT_EQ(changes, (std::vector<std::pair<DISPID, std::string>>{{kDispidValue, "Value"},
                                                                    {DISPID_UNKNOWN, "Other"}}));
    ASSERT_EQ(com::disconnectSink(control->identity(), IPropertyNotifySink::kIid, cookie), S_OK);
    EXPECT_EQ(com::disconnectSink(control->identity(), IPropertyNotifySink::kIid, cookie),
              CONNECT_E_NOCONNECTION);
    control->propertyChanged("Value");
    EXPECT_EQ(changes.size(), 2u);
}

TEST_F(UserControlTest, EventHandlerChangesTheByReferenceArgument) {
    auto control = make();
    std::vector<std::int32_t> seen;
    auto sink = ComPtr<com::EventSink>::adopt(
        new com::EventSink(kIidProbeEvents, [&](DISPID id, std::span<VARIANT> args) {
            ASSERT_EQ(id, kEventChanged);
            ASSERT_EQ(args.size(), 1u);
            ASSERT_EQ(args[0].vt, VT_I4 | VT_BYREF);
            seen.push_back(*args[0].plVal);
            *args[0].plVal = 30;
        }));
    DWORD cookie = 0;
    ASSERT_EQ(com::connectSink(control->identity(), kIidProbeEvents, sink->identity(), &cookie),
              S_OK);
    control->report(60);
    EXPECT_EQ(seen, (std::vector<std::int32_t>{60}));
    EXPECT_EQ(control->value(), 30) << "the handler's value is stored";

    DWORD other = 0;
    EXPECT_EQ(com::connectSink(control->identity(), kIidProbe, sink->identity(), &other),
              CONNECT_E_NOCONNECTION)
        << "only the event interface and property notification are outgoing";
}

TEST_F(UserControlTest, HandlerDroppingTheLastReferenceDoesNotFreeTheControlMidCall) {
    auto control = make();
    ComPtr<IUnknown> captured;
    auto sink = ComPtr<com::EventSink>::adopt(
        new com::EventSink(kIidProbeEvents, [&](DISPID, std::span<VARIANT>) {
            captured.reset(); // the handler drops the last outside reference mid-event
        }));
    DWORD cookie = 0;
    com::connectSink(control->identity(), kIidProbeEvents, sink->identity(), &cookie);
    captured = ComPtr<IUnknown>(control->identity());
    Probe* raw = control.get();
    control.reset();
    EXPECT_EQ(com::callMethod(raw, kDispidReport, {com::makeI4(1)}), S_OK)
        << "the control outlives the call that raised the event (ASan watches)";
    EXPECT_TRUE(m_gone);
}

TEST_F(UserControlTest, TimerTicksWhileEnabledAndStopsForGoodOnClose) {
    auto control = make();
    control->Timer1.setEnabled(true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return control->ticks >= 2; }, 5000));
    control->Timer1.setEnabled(false);
    const int stopped = control->ticks;
    ASSERT_TRUE(waitPastTimers(3 * kTimer1Ms));
    EXPECT_EQ(control->ticks, stopped);
    control->Close();
    control->Timer1.setEnabled(true);
    ASSERT_TRUE(waitPastTimers(3 * kTimer1Ms));
    EXPECT_EQ(control->ticks, stopped) << "a closed control's timer never ticks again";
}

TEST_F(UserControlTest, CallsFromAnotherThreadAreRefused) {
    auto control = make();
    HRESULT invoke = S_OK, save = S_OK, close = S_OK;
    std::thread other([&] {
        VARIANT result;
        invoke = com::getProperty(control.get(), kDispidValue, &result);
        save = control->InitNew();
        close = control->Close();
    });
    other.join();
    EXPECT_EQ(invoke, RPC_E_WRONG_THREAD);
    EXPECT_EQ(save, RPC_E_WRONG_THREAD);
    EXPECT_EQ(close, RPC_E_WRONG_THREAD);
    EXPECT_FALSE(control->closed());
}

// The last reference may go on any thread: the control is then closed and destroyed on its
// own, where its window and running timer live, when that thread's event loop next runs.
TEST_F(UserControlTest, LastReleaseFromAnotherThreadDestroysTheControlOnItsOwnThread) {
    auto control = make();
    QWidget host;
    control->SetHost(&host);
    control->Timer1.setEnabled(true);
    std::thread other([held = std::move(control)]() mutable { held.reset(); });
    other.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_gone; }, 5000));
    EXPECT_EQ(m_log.back(), "Terminate") << "closed on its own thread before it went";
}

// A closed control runs none of its own code again: every member is refused.
TEST_F(UserControlTest, CallsOnAClosedControlAreRefused) {
    auto control = make();
    int notified = 0;
    auto sink = ComPtr<com::PropertyNotifySink>::adopt(
        new com::PropertyNotifySink([&](DISPID, const std::string&) { ++notified; }));
    DWORD cookie = 0;
    ASSERT_EQ(
        com::connectSink(control->identity(), IPropertyNotifySink::kIid, sink->identity(), &cookie),
        S_OK);
    ASSERT_EQ(control->Close(), S_OK);
    m_log.clear();
    auto bag = com::makePropertyBag();
    VARIANT saved = com::makeI4(100);
    bag->Write("Value", &saved);
    QWidget host;
    const struct {
        const char* call;
        std::function<HRESULT()> make;
    } calls[] = {
        {"put Value",
         [&] { return com::putProperty(control.get(), kDispidValue, com::makeI4(5)); }},
        {"get Value",
         [&] {
             VARIANT result;
             return com::getProperty(control.get(), kDispidValue, &result);
         }},
        {"Report", [&] { return com::callMethod(control.get(), kDispidReport, {com::makeI4(1)}); }},
        {"GetIDsOfNames",
         [&] {
             const char* names[] = {"Value"};
             DISPID id = 0;
             return control->GetIDsOfNames(names, 1, &id);
         }},
        {"InitNew", [&] { return control->InitNew(); }},
        {"Load", [&] { return control->Load(bag.get()); }},
        {"Save", [&] { return control->Save(bag.get()); }},
        {"FindConnectionPoint",
         [&] {
             ComPtr<IConnectionPoint> point;
             return control->FindConnectionPoint(kIidProbeEvents, point.put());
         }},
        {"SetHost", [&] { return control->SetHost(&host); }},
        {"SetObjectRect", [&] { return control->SetObjectRect(0, 0, 900, 900); }},
        {"GetExtent",
         [&] {
             LONG width = 0, height = 0;
             return control->GetExtent(&width, &height);
         }},
    };
    for (const auto& call : calls)
        EXPECT_EQ(com::describe(call.make()), com::describe(E_UNEXPECTED)) << call.call;
    EXPECT_EQ(control->value(), 0) << "a put reached the closed control";
    EXPECT_EQ(notified, 0);
    EXPECT_TRUE(m_log.empty()) << "hooks ran on the closed control: " << m_log.front();
    EXPECT_EQ(control->Close(), S_OK);
}

TEST_F(UserControlTest, HostBackgroundColourComesAsBgr) {
    auto control = make();
    EXPECT_EQ(control->hostBackColor(), std::nullopt);
    QWidget host;
    QPalette palette = host.palette();
    palette.setColor(QPalette::Window, QColor(255, 128, 0));
    host.setPalette(palette);
    control->SetHost(&host);
    EXPECT_EQ(control->hostBackColor(), 0x000080FFu);
}

} // namespace
