#include "volume/Dalvex.h"
#include "platform/com/PropertyBag.h"
#include "platform/com/Sinks.h"
#include "platform/mixer/FakeMixer.h"
#include "tests/support/TimerTurn.h"
#include "volume/PemrikGuids.h"
#include "volume/PemrikTypeLib.h"

#include <QTest>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using mixer::ComponentType;
using mixer::ControlType;

constexpr std::int32_t kRaw60 = 60 * 655;
constexpr int kTickWaitMs = 3000;

struct Event {
    DISPID id;
    std::int32_t value;
};

// One control on a fake mixer whose wave-out line (0..65535) holds 60 and is not muted, with
// sinks that record its events and property-change notifications. The control is created and
// initialised; each test then loads or starts it as a container would.
class DalvexTest : public ::testing::Test {
protected:
    DalvexTest() : m_scope(m_mixer) {
        m_mixer.addDevice();
        m_mixer.addControl(0, ComponentType::Speakers, ControlType::Volume, 0, 65535, 65535);
        m_mixer.addControl(0, ComponentType::Speakers, ControlType::Mute, 0, 1, 1);
        m_mixer.addControl(0, ComponentType::WaveOut, ControlType::Volume, 0, 65535, kRaw60);
        m_mixer.addControl(0, ComponentType::WaveOut, ControlType::Mute, 0, 1, 0);
        m_control = com::ComPtr<IDispatch>::adopt(com::createControl<Dalvex>());
        m_events = com::ComPtr<com::EventSink>::adopt(
            new com::EventSink(pemrik::kIidDalvexEvents,
                               [this](DISPID id, std::span<VARIANT> args) { onEvent(id, args); }));
        m_notes = com::ComPtr<com::PropertyNotifySink>::adopt(new com::PropertyNotifySink(
            [this](DISPID, const std::string& name) { m_changed.push_back(name); }));
        DWORD cookie = 0;
        EXPECT_EQ(
            com::connectSink(m_control.get(), pemrik::kIidDalvexEvents, m_events.get(), &cookie),
            S_OK);
        EXPECT_EQ(
            com::connectSink(m_control.get(), IPropertyNotifySink::kIid, m_notes.get(), &cookie),
            S_OK);
    }

    ~DalvexTest() override {
        m_control.reset();
        EXPECT_EQ(m_mixer.openHandles(), 0) << "termination closes the mixer";
    }

    void initNew() { ASSERT_EQ(m_control.as<IPersistPropertyBag>()->InitNew(), S_OK); }

    void load(std::initializer_list<std::pair<const char*, VARIANT>> saved) {
        auto bag = com::makePropertyBag();
        for (const auto& [name, value] : saved)
            ASSERT_EQ(bag->Write(name, &value), S_OK);
        ASSERT_EQ(m_control.as<IPersistPropertyBag>()->Load(bag.get()), S_OK);
    }

    std::int32_t get(DISPID id) {
        com::Variant value;
        EXPECT_EQ(com::getProperty(m_control.get(), id, value.get()), S_OK);
        return com::toLong(*value).value_or(-999);
    }

    HRESULT put(DISPID id, const VARIANT& value) {
        return com::putProperty(m_control.get(), id, value);
    }

    // Waits until the poll has read the mixer `ticks` more times (two reads a tick).
    bool waitForTicks(int ticks) {
        const int target = m_mixer.getValueCalls() + 2 * ticks;
        return QTest::qWaitFor([&] { return m_mixer.getValueCalls() >= target; }, kTickWaitMs);
    }

    std::int32_t waveRaw() const {
        return m_mixer.value(0, ComponentType::WaveOut, ControlType::Volume).value();
    }

    void onEvent(DISPID id, std::span<VARIANT> args) {
        ASSERT_EQ(args.size(), 1u);
        ASSERT_TRUE(args[0].vt & VT_BYREF);
        const std::int32_t value =
            id == pemrik::kDispidVolumeChanged ? *args[0].plVal : *args[0].pboolVal;
        m_received.push_back({id, value});
        if (id == pemrik::kDispidVolumeChanged && m_volumeOverride)
            *args[0].plVal = *m_volumeOverride;
    }

    mixer::FakeMixer m_mixer;
    mixer::ScopedService m_scope;
    com::ComPtr<IDispatch> m_control;
    com::ComPtr<com::EventSink> m_events;
    com::ComPtr<com::PropertyNotifySink> m_notes;
    std::vector<Event> m_received;
    std::vector<std::string> m_changed;
    std::optional<std::int32_t> m_volumeOverride;
};

TEST_F(DalvexTest, NewInstanceTakesTheWaveLineFromTheMixerWithoutEvents) {
    m_mixer.setValueFromElsewhere(0, ComponentType::WaveOut, ControlType::Mute, 1);
    initNew();
    EXPECT_EQ(get(pemrik::kDispidDeviceToControl), Dalvex::mWave);
    EXPECT_EQ(get(pemrik::kDispidVolume), 60);
    EXPECT_EQ(get(pemrik::kDispidMute), VARIANT_TRUE);
    ASSERT_TRUE(waitForTicks(1));
    EXPECT_TRUE(m_received.empty());
}

TEST_F(DalvexTest, SavedVolumeHoldsUntilTheFirstTickReportsTheMixer) {
    load({{"volume", com::makeI4(100)}}); // the host's saved data spells the key in lower case
    EXPECT_EQ(get(pemrik::kDispidVolume), 100);
    EXPECT_EQ(m_mixer.setValueCalls(), 0) << "loading writes nothing to the mixer";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_received.empty(); }, kTickWaitMs));
    EXPECT_EQ(m_received.front().id, pemrik::kDispidVolumeChanged);
    EXPECT_EQ(m_received.front().value, 60);
    EXPECT_EQ(get(pemrik::kDispidVolume), 60);
    ASSERT_TRUE(waitForTicks(1));
    EXPECT_EQ(m_received.size(), 1u) << "no mute event, and no repeat without a difference";
}

TEST_F(DalvexTest, PuttingTheMixersOwnValueRaisesNothing) {
    initNew();
    ASSERT_EQ(put(pemrik::kDispidVolume, com::makeI4(60)), S_OK);
    EXPECT_EQ(waveRaw(), kRaw60);
    EXPECT_EQ(m_changed, std::vector<std::string>{"Volume"});
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_TRUE(m_received.empty());
}

TEST_F(DalvexTest, VolumeAboveTheScaleIsStoredThenCorrectedByThePoll) {
    initNew();
    ASSERT_EQ(put(pemrik::kDispidVolume, com::makeI4(150)), S_OK);
    EXPECT_EQ(get(pemrik::kDispidVolume), 150);
    EXPECT_EQ(waveRaw(), 65535);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_received.empty(); }, kTickWaitMs));
    EXPECT_EQ(m_received.front().value, 100);
    EXPECT_EQ(get(pemrik::kDispidVolume), 100);
}

TEST_F(DalvexTest, HandlersChangeToTheArgumentIsKeptAndRepeatsEveryTick) {
    initNew();
    m_volumeOverride = 30;
    m_mixer.setValueFromElsewhere(0, ComponentType::WaveOut, ControlType::Volume, 20 * 655);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_received.size() >= 3; }, kTickWaitMs));
    EXPECT_EQ(get(pemrik::kDispidVolume), 30);
    for (const Event& event : m_received)
        EXPECT_EQ(event.value, 20);
    EXPECT_EQ(waveRaw(), 20 * 655) << "the handler's value never reaches the mixer";
}

TEST_F(DalvexTest, DeviceToControlPutReadsTheLineAndRaisesBothEventsInOrder) {
    initNew();
    ASSERT_EQ(put(pemrik::kDispidDeviceToControl, com::makeI4(Dalvex::mWave)), S_OK);
    ASSERT_EQ(m_received.size(), 2u);
    EXPECT_EQ(m_received[0].id, pemrik::kDispidVolumeChanged);
    EXPECT_EQ(m_received[0].value, 60);
    EXPECT_EQ(m_received[1].id, pemrik::kDispidMuteChanged);
    EXPECT_EQ(m_received[1].value, VARIANT_FALSE);
    EXPECT_EQ(m_changed, std::vector<std::string>{"DeviceToControl"});

    m_received.clear();
    ASSERT_EQ(put(pemrik::kDispidDeviceToControl, com::makeI4(Dalvex::mMaster)), S_OK);
    EXPECT_EQ(get(pemrik::kDispidVolume), 100);
    EXPECT_EQ(get(pemrik::kDispidMute), VARIANT_TRUE);
    ASSERT_EQ(m_received.size(), 2u);
    EXPECT_EQ(m_received[1].value, VARIANT_TRUE);
}

TEST_F(DalvexTest, LineOutsideTheEnumerationIsRefused) {
    initNew();
    EXPECT_EQ(put(pemrik::kDispidDeviceToControl, com::makeI4(7)), E_INVALIDARG);
    EXPECT_EQ(put(pemrik::kDispidDeviceToControl, com::makeI4(-1)), E_INVALIDARG);
    EXPECT_EQ(get(pemrik::kDispidDeviceToControl), Dalvex::mWave);
    EXPECT_TRUE(m_received.empty());
}

TEST_F(DalvexTest, DisabledControlIgnoresPutsAndStopsPollingUntilEnabled) {
    initNew();
    ASSERT_EQ(put(pemrik::kDispidEnabled, com::makeBool(false)), S_OK);
    EXPECT_EQ(get(pemrik::kDispidEnabled), VARIANT_FALSE);
    EXPECT_EQ(put(pemrik::kDispidVolume, com::makeI4(10)), S_OK);
    EXPECT_EQ(put(pemrik::kDispidMute, com::makeBool(true)), S_OK);
    EXPECT_EQ(put(pemrik::kDispidDeviceToControl, com::makeI4(Dalvex::mMaster)), S_OK);
    EXPECT_EQ(get(pemrik::kDispidVolume), 60);
    EXPECT_EQ(get(pemrik::kDispidMute), VARIANT_FALSE);
    EXPECT_EQ(get(pemrik::kDispidDeviceToControl), Dalvex::mWave);
    EXPECT_EQ(m_mixer.setValueCalls(), 0);

    m_mixer.setValueFromElsewhere(0, ComponentType::WaveOut, ControlType::Volume, 40 * 655);
    const int readsBefore = m_mixer.getValueCalls();
    ASSERT_TRUE(waitPastTimers(350)); // several tick intervals: a disabled control must not poll
    EXPECT_EQ(m_mixer.getValueCalls(), readsBefore);
    EXPECT_TRUE(m_received.empty());

    ASSERT_EQ(put(pemrik::kDispidEnabled, com::makeBool(true)), S_OK);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_received.empty(); }, kTickWaitMs));
    EXPECT_EQ(m_received.front().value, 40);
    EXPECT_EQ(m_changed, (std::vector<std::string>{"Enabled", "Enabled"}));
}

TEST_F(DalvexTest, MutePutSendsOneToTheLinesMuteControl) {
    initNew();
    ASSERT_EQ(put(pemrik::kDispidMute, com::makeBool(true)), S_OK);
    EXPECT_EQ(m_mixer.value(0, ComponentType::WaveOut, ControlType::Mute), 1);
    EXPECT_EQ(get(pemrik::kDispidMute), VARIANT_TRUE);
    EXPECT_EQ(m_changed, std::vector<std::string>{"Mute"});
}

TEST_F(DalvexTest, OverflowingVolumeFailsThePutAndWritesNothing) {
    initNew();
    EXPECT_EQ(put(pemrik::kDispidVolume, com::makeI4(4'000'000)), DISP_E_OVERFLOW);
    EXPECT_EQ(m_mixer.setValueCalls(), 0);
    EXPECT_EQ(get(pemrik::kDispidVolume), 4'000'000);
}

TEST_F(DalvexTest, SavingDefaultsStoresNothingAndOthersWithTheirTypes) {
    load({});
    auto bag = com::makePropertyBag();
    ASSERT_EQ(m_control.as<IPersistPropertyBag>()->Save(bag.get()), S_OK);
    EXPECT_TRUE(bag->names().empty());

    // The line first: its put reads volume and mute from the line (a missing one reads 0).
    ASSERT_EQ(put(pemrik::kDispidDeviceToControl, com::makeI4(Dalvex::mCD)), S_OK);
    ASSERT_EQ(put(pemrik::kDispidVolume, com::makeI4(100)), S_OK);
    ASSERT_EQ(put(pemrik::kDispidMute, com::makeBool(true)), S_OK);
    ASSERT_EQ(put(pemrik::kDispidEnabled, com::makeBool(false)), S_OK);
    bag = com::makePropertyBag();
    ASSERT_EQ(m_control.as<IPersistPropertyBag>()->Save(bag.get()), S_OK);
    EXPECT_EQ(bag->names(),
              (std::vector<std::string>{"Enabled", "Volume", "mute", "DeviceToControl"}));
    EXPECT_EQ(bag->value("Enabled").type(), VT_BOOL);
    EXPECT_EQ(bag->value("Volume").type(), VT_I4);
    EXPECT_EQ(bag->value("mute").type(), VT_BOOL);
    EXPECT_EQ(bag->value("DeviceToControl").type(), VT_I4);
    EXPECT_EQ(com::toLong(*bag->value("DeviceToControl")), Dalvex::mCD);
}

TEST_F(DalvexTest, LoadedPropertiesAreReadWithoutRegardToCase) {
    load({{"ENABLED", com::makeBool(false)},
          {"Mute", com::makeBool(true)},
          {"devicetocontrol", com::makeI4(Dalvex::mMaster)}});
    EXPECT_EQ(get(pemrik::kDispidEnabled), VARIANT_FALSE);
    EXPECT_EQ(get(pemrik::kDispidMute), VARIANT_TRUE);
    EXPECT_EQ(get(pemrik::kDispidDeviceToControl), Dalvex::mMaster);
    EXPECT_TRUE(m_received.empty());
}

TEST_F(DalvexTest, SizeStaysAt480Twips) {
    initNew();
    auto hosted = m_control.as<IHostedControl>();
    LONG width = 0;
    LONG height = 0;
    ASSERT_EQ(hosted->GetExtent(&width, &height), S_OK);
    EXPECT_EQ(width, 480);
    EXPECT_EQ(height, 480);
    ASSERT_EQ(hosted->SetObjectRect(0, 0, 2000, 1000), S_OK);
    ASSERT_EQ(hosted->GetExtent(&width, &height), S_OK);
    EXPECT_EQ(width, 480);
    EXPECT_EQ(height, 480);
}

TEST_F(DalvexTest, InstancesShareTheDeviceAndTheLastOneClosesIt) {
    auto second = com::ComPtr<IDispatch>::adopt(com::createControl<Dalvex>());
    EXPECT_EQ(m_mixer.openHandles(), 1);
    second.reset();
    EXPECT_EQ(m_mixer.openHandles(), 1);
    initNew();
    ASSERT_EQ(put(pemrik::kDispidVolume, com::makeI4(50)), S_OK);
    EXPECT_EQ(waveRaw(), 32750) << "the remaining instance still reaches the mixer";
}

TEST_F(DalvexTest, LateBindingNamesMatchTheTypeLibrary) {
    for (const pemrik::InterfaceSlot& slot : pemrik::dalvexInterface()) {
        const char* names[] = {slot.member};
        DISPID id = 0;
        ASSERT_EQ(m_control->GetIDsOfNames(names, 1, &id), S_OK) << slot.member;
        EXPECT_EQ(id, slot.id) << slot.member;
    }
    const std::string& text = pemrik::typeLibraryText();
    EXPECT_NE(text.find("[id(0x68030002), propput]\n        HRESULT Volume([in] long New_Volume)"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("void VolumeChanged([in, out] long* NewVolume)"), std::string::npos);
    EXPECT_NE(text.find("mAuxiliary = 6"), std::string::npos);
}

} // namespace
