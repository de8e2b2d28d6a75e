// The control on a real sound server: the master line is the server's default output, the
// wave line this program's own stream.

#include "platform/audio/Engine.h"
#include "platform/audio/WaveLine.h"
#include "platform/com/Sinks.h"
#include "platform/mixer/Backends.h"
#include "tests/platform/audio/TestSongs.h"
#include "tests/support/PulseServer.h"
#include "volume/Dalvex.h"
#include "volume/PemrikGuids.h"

#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A private server, which this program's mixer service talks to for the test's length.
class DalvexPulseTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.running());
        server.exportAddress();
        pulse = mixer::connectPulseService(server.address().toLocal8Bit().constData(), 2000ms);
        ASSERT_NE(pulse, nullptr);
        scope.emplace(*pulse);
    }

    PulseServer server;
    std::unique_ptr<mixer::Service> pulse;
    std::optional<mixer::ScopedService> scope;
};

TEST_F(DalvexPulseTest, PuttingTheMasterVolumeSetsTheDefaultOutput) {
    auto control = com::ComPtr<IDispatch>::adopt(com::createControl<Dalvex>());
    ASSERT_EQ(control.as<IPersistPropertyBag>()->InitNew(), S_OK);
    ASSERT_EQ(com::putProperty(control.get(), pemrik::kDispidDeviceToControl,
                               com::makeI4(Dalvex::mMaster)),
              S_OK);
    ASSERT_EQ(com::putProperty(control.get(), pemrik::kDispidVolume, com::makeI4(50)), S_OK);

    QString answer;
    ASSERT_TRUE(server.pactl({"get-sink-volume", "@DEFAULT_SINK@"}, &answer));
    EXPECT_TRUE(answer.contains("front-left: 32750 /")) << answer.toStdString();
    control.reset();
}

// The desktop's mixer turns this program's stream down to 50 % of the server's norm (the
// line's linear 8192, 13 on the control's scale) while a song plays.
TEST_F(DalvexPulseTest, WaveLineChangedInTheDesktopsMixerRaisesVolumeChanged) {
    waveline::setVolume(waveline::kMaxVolume);
    waveline::setMuted(false);

    auto control = com::ComPtr<IDispatch>::adopt(com::createControl<Dalvex>());
    ASSERT_EQ(control.as<IPersistPropertyBag>()->InitNew(), S_OK);
    std::vector<std::int32_t> volumes;
    auto events = com::ComPtr<com::EventSink>::adopt(
        new com::EventSink(pemrik::kIidDalvexEvents, [&](DISPID id, std::span<VARIANT> args) {
            if (id == pemrik::kDispidVolumeChanged)
                volumes.push_back(*args[0].plVal);
        }));
    DWORD cookie = 0;
    ASSERT_EQ(com::connectSink(control.get(), pemrik::kIidDalvexEvents, events.get(), &cookie),
              S_OK);

    auto& engine = audio::Engine::instance();
    engine.setBufferMs(50);
    audio::OpenStatus status{};
    const audio::StreamId song = engine.open(testSong("tone1000-stereo-192k"), &status);
    ASSERT_NE(song, 0);
    ASSERT_EQ(engine.play(song), audio::CommandResult::Done);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.sinkInputs().empty(); }, 5000));
    ASSERT_TRUE(server.pactl(
        {"set-sink-input-volume", QString::number(server.sinkInputs().front().index), "32768"}));

    EXPECT_TRUE(QTest::qWaitFor([&] { return !volumes.empty(); }, 3000));
    EXPECT_EQ(volumes, std::vector<std::int32_t>{13});
    com::Variant volume;
    EXPECT_EQ(com::getProperty(control.get(), pemrik::kDispidVolume, volume.get()), S_OK);
    EXPECT_EQ(com::toLong(*volume), 13);

    engine.closeAll();
    control.reset();
    waveline::setVolume(waveline::kMaxVolume);
}

} // namespace
