#include "volume/Module1.h"
#include "platform/mixer/FakeMixer.h"

#include <gtest/gtest.h>

#include <thread>
#include <utility>
#include <vector>

namespace {

using mixer::ComponentType;
using mixer::ControlType;
using mixer::FakeMixer;

constexpr int kMasterSlot = 0;
constexpr int kWaveSlot = 5;
constexpr int kWaveMuteSlot = 12;

// A fake mixer installed as the process's service, with device 0 and its wave-out line (volume
// with the bounds the test chooses, and mute). Whatever the test left open is closed after it.
class Module1Test : public ::testing::Test {
protected:
    Module1Test() : m_scope(m_mixer) { m_mixer.addDevice(); }

    ~Module1Test() override {
        while (Module1::hMixer() != 0)
            (void)Module1::CloseMixer();
    }

    void openWithWaveBounds(std::int32_t minimum, std::int32_t maximum) {
        m_mixer.addControl(0, ComponentType::WaveOut, ControlType::Volume, minimum, maximum);
        m_mixer.addControl(0, ComponentType::WaveOut, ControlType::Mute, 0, 1);
        ASSERT_EQ(Module1::OpenMixer(0), Module1::True);
    }

    std::int32_t sentToWave() const {
        return m_mixer.value(0, ComponentType::WaveOut, ControlType::Volume).value();
    }

    std::int32_t sentAfterWriting(std::int32_t value) {
        Module1::Result<std::int16_t> written = Module1::SetVolume(kWaveSlot, value);
        EXPECT_TRUE(written.ok());
        EXPECT_EQ(written.value, Module1::True);
        return sentToWave();
    }

    FakeMixer m_mixer;
    mixer::ScopedService m_scope;
};

// Between the slider's percent and the wave line's bounds, both ways: a factor of max / 100
// (655 for the full range, one up to 150, none at exactly 100), clamped, the lower bound applied
// last, and reads rounding halves to the even neighbour.
TEST_F(Module1Test, ScalesBetweenPercentAndTheLinesBounds) {
    using Pairs = std::vector<std::pair<std::int32_t, std::int32_t>>;
    const struct {
        std::int32_t minimum, maximum;
        Pairs writes; // percent written, raw value sent
        Pairs reads;  // raw value set elsewhere, percent read
    } cases[] = {
        {0,
         65535,
         {{100, 65500}, {50, 32750}, {0, 0}, {150, 65535}, {-5, 0}},
         {{65535, 100}, {65500, 100}, {32750, 50}}},
        {30, 20, {{25, 30}}, {}},
        {0, 150, {{100, 100}}, {{100, 67}}},
        {0, 100, {{57, 57}, {150, 100}}, {{57, 57}}},
        {10, 1000, {{0, 10}}, {{1000, 90}}},
        {0, 200, {}, {{1, 0}, {3, 2}, {5, 2}, {7, 4}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "bounds " << c.minimum << ".." << c.maximum);
        FakeMixer mixer;
        mixer::ScopedService scope(mixer);
        mixer.addDevice();
        mixer.addControl(0, ComponentType::WaveOut, ControlType::Volume, c.minimum, c.maximum);
        ASSERT_EQ(Module1::OpenMixer(0), Module1::True);
        for (const auto& [percent, raw] : c.writes) {
            EXPECT_EQ(Module1::SetVolume(kWaveSlot, percent).value, Module1::True);
            EXPECT_EQ(mixer.value(0, ComponentType::WaveOut, ControlType::Volume), raw)
                << percent << "%";
        }
        for (const auto& [raw, percent] : c.reads) {
            mixer.setValueFromElsewhere(0, ComponentType::WaveOut, ControlType::Volume, raw);
            EXPECT_EQ(Module1::GetVolume(kWaveSlot).value, percent) << "raw " << raw;
        }
        (void)Module1::CloseMixer();
    }
}

TEST_F(Module1Test, EveryPercentReadsBackAsWritten) {
    openWithWaveBounds(0, 65535);
    for (int value = 0; value <= 100; ++value) {
        ASSERT_TRUE(Module1::SetVolume(kWaveSlot, value).ok());
        EXPECT_EQ(Module1::GetVolume(kWaveSlot).value, value);
    }
}

TEST_F(Module1Test, MuteSendsOneAndAnyNonZeroReadsTrue) {
    openWithWaveBounds(0, 65535);
    ASSERT_EQ(Module1::SetMute(kWaveMuteSlot, Module1::True).value, Module1::True);
    EXPECT_EQ(m_mixer.value(0, ComponentType::WaveOut, ControlType::Mute), 1);
    EXPECT_EQ(Module1::GetMute(kWaveMuteSlot).value, Module1::True);
    ASSERT_EQ(Module1::SetMute(kWaveMuteSlot, Module1::False).value, Module1::True);
    EXPECT_EQ(m_mixer.value(0, ComponentType::WaveOut, ControlType::Mute), 0);
    EXPECT_EQ(Module1::GetMute(kWaveMuteSlot).value, Module1::False);
    m_mixer.setValueFromElsewhere(0, ComponentType::WaveOut, ControlType::Mute, 7);
    EXPECT_EQ(Module1::GetMute(kWaveMuteSlot).value, Module1::True);
}

TEST_F(Module1Test, DeviceIndexOutsideTheDevicesOpensNothing) {
    m_mixer.addDevice(); // two devices: 0 and 1
    EXPECT_EQ(Module1::OpenMixer(-1), Module1::False);
    EXPECT_EQ(Module1::OpenMixer(2), Module1::False);
    EXPECT_EQ(m_mixer.openHandles(), 0);
    EXPECT_EQ(Module1::hMixer(), 0u);
    EXPECT_EQ(Module1::OpenMixer(1), Module1::True);
}

TEST_F(Module1Test, SlotOutsideTheTableIsAnErrorWithoutMixerRequest) {
    openWithWaveBounds(0, 65535);
    const int writesBefore = m_mixer.setValueCalls();
    const int readsBefore = m_mixer.getValueCalls();
    for (int slot : {21, -1}) {
        EXPECT_EQ(Module1::GetVolume(slot).error, Module1::Error::SlotOutOfRange);
        EXPECT_EQ(Module1::SetVolume(slot, 50).error, Module1::Error::SlotOutOfRange);
        EXPECT_EQ(Module1::GetMute(slot).error, Module1::Error::SlotOutOfRange);
        EXPECT_EQ(Module1::SetMute(slot, Module1::True).error, Module1::Error::SlotOutOfRange);
    }
    EXPECT_EQ(m_mixer.setValueCalls(), writesBefore);
    EXPECT_EQ(m_mixer.getValueCalls(), readsBefore);
}

TEST_F(Module1Test, SlotsFourteenToTwentyAreZeroRecordsThatReadZero) {
    openWithWaveBounds(0, 65535);
    for (int slot = 14; slot <= 20; ++slot) {
        const Module1::MixerControl& record =
            Module1::MixerControls()[static_cast<std::size_t>(slot)];
        EXPECT_EQ(record.dwControlID, 0u);
        EXPECT_EQ(record.lMinimum, 0);
        EXPECT_EQ(record.lMaximum, 0);
        Module1::Result<std::int32_t> read = Module1::GetVolume(slot);
        EXPECT_TRUE(read.ok());
        EXPECT_EQ(read.value, 0);
    }
}

TEST_F(Module1Test, OverflowIsAnErrorAndWritesNothing) {
    openWithWaveBounds(0, 65535);
    const int writesBefore = m_mixer.setValueCalls();
    EXPECT_EQ(Module1::SetVolume(kWaveSlot, 4'000'000).error, Module1::Error::Overflow);
    EXPECT_EQ(m_mixer.setValueCalls(), writesBefore);
    m_mixer.setValueFromElsewhere(0, ComponentType::WaveOut, ControlType::Volume, 30'000'000);
    EXPECT_EQ(Module1::GetVolume(kWaveSlot).error, Module1::Error::Overflow);
}

TEST_F(Module1Test, FailedRequestsReadZeroAndWriteFalse) {
    openWithWaveBounds(10, 1000);
    m_mixer.failGetValue(true);
    m_mixer.failSetValue(true);
    EXPECT_EQ(Module1::GetVolume(kWaveSlot).value, -10); // raw 0, minus the lower bound
    EXPECT_EQ(Module1::GetMute(kWaveMuteSlot).value, Module1::False);
    EXPECT_EQ(Module1::SetVolume(kWaveSlot, 50).value, Module1::False);
    EXPECT_EQ(Module1::SetMute(kWaveMuteSlot, Module1::True).value, Module1::False);
}

TEST_F(Module1Test, MissingLinesAndControlsLeaveTheirSlots) {
    m_mixer.addControl(0, ComponentType::Speakers, ControlType::Volume, 0, 65535);
    ASSERT_EQ(Module1::OpenMixer(0), Module1::True);
    EXPECT_EQ(Module1::MixerControls()[kMasterSlot].lMaximum, 65535);
    EXPECT_EQ(Module1::MixerControls()[kMasterSlot].cbStruct, 152u);
    // The speakers line exists without a mute: only the size field is set.
    EXPECT_EQ(Module1::MixerControls()[7].cbStruct, 152u);
    EXPECT_EQ(Module1::MixerControls()[7].dwControlID, 0u);
    // No microphone line at all: the record is not touched.
    EXPECT_EQ(Module1::MixerControls()[2].cbStruct, 0u);
    EXPECT_EQ(Module1::SetVolume(2, 50).value, Module1::False);
}

TEST_F(Module1Test, FailedOpenReturnsFalseAndLeavesTheHandle) {
    m_mixer.failOpen(true);
    EXPECT_EQ(Module1::OpenMixer(0), Module1::False);
    EXPECT_EQ(Module1::hMixer(), 0u);
}

TEST_F(Module1Test, InstancesOnOneThreadShareTheDeviceUntilTheLastCloses) {
    openWithWaveBounds(0, 65535);
    const mixer::Handle first = Module1::hMixer();
    ASSERT_EQ(Module1::OpenMixer(0), Module1::True);
    EXPECT_EQ(Module1::hMixer(), first);
    EXPECT_EQ(m_mixer.openHandles(), 1);

    EXPECT_EQ(Module1::CloseMixer(), 0);
    EXPECT_EQ(Module1::hMixer(), first);
    EXPECT_EQ(sentAfterWriting(40), 26200); // the remaining instance still reaches the mixer

    EXPECT_EQ(Module1::CloseMixer(), 0);
    EXPECT_EQ(Module1::hMixer(), 0u);
    EXPECT_EQ(m_mixer.openHandles(), 0);
    EXPECT_EQ(Module1::CloseMixer(), static_cast<std::int32_t>(mixer::kInvalidHandle));
}

TEST_F(Module1Test, WithoutDevicesReadsYieldZeroAndFalse) {
    FakeMixer empty;
    mixer::ScopedService scope(empty);
    EXPECT_EQ(Module1::OpenMixer(0), Module1::False);
    EXPECT_EQ(Module1::GetVolume(kWaveSlot).value, 0);
    EXPECT_EQ(Module1::GetMute(kWaveMuteSlot).value, Module1::False);
    EXPECT_EQ(Module1::SetVolume(kWaveSlot, 50).value, Module1::False);
}

TEST_F(Module1Test, EachThreadHasItsOwnHandleAndTable) {
    openWithWaveBounds(0, 65535);
    const mixer::Handle mine = Module1::hMixer();
    mixer::Handle theirs = 0;
    std::int32_t theirSlotMaximum = -1;
    std::thread other([&] {
        theirSlotMaximum = Module1::MixerControls()[kWaveSlot].lMaximum;
        if (Module1::OpenMixer(0) == Module1::True)
            theirs = Module1::hMixer();
        (void)Module1::CloseMixer();
    });
    other.join();
    EXPECT_EQ(theirSlotMaximum, 0); // a new thread starts with an empty table
    EXPECT_NE(theirs, 0u);
    EXPECT_NE(theirs, mine);
    EXPECT_EQ(Module1::hMixer(), mine);
    EXPECT_EQ(m_mixer.openHandles(), 1);
}

} // namespace
