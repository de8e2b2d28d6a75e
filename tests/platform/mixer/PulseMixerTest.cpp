#include "platform/audio/WaveLine.h"
#include "platform/mixer/Backends.h"
#include "tests/support/PulseServer.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace std::chrono_literals;
using mixer::ComponentType;
using mixer::ControlType;

// The mixer on a private sound server whose default sink is a stereo null sink.
class PulseMixerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.running());
        m_mixer = mixer::connectPulseService(m_server.address().toLocal8Bit().constData(), 2000ms);
        ASSERT_NE(m_mixer, nullptr);
        ASSERT_EQ(m_mixer->deviceCount(), 1);
        ASSERT_EQ(m_mixer->open(0, &m_handle), mixer::kNoError);
    }

    // pactl's answer about the test server, e.g. "Volume: front-left: 32768 / ...".
    QString pactl(const QStringList& arguments) const {
        QString answer;
        m_server.pactl(arguments, &answer);
        return answer;
    }

    mixer::ControlInfo control(ComponentType line, ControlType type) {
        std::uint32_t lineId = 0;
        mixer::ControlInfo info;
        EXPECT_EQ(m_mixer->findLine(m_handle, line, &lineId), mixer::kNoError);
        EXPECT_EQ(m_mixer->findControl(m_handle, lineId, type, &info), mixer::kNoError);
        return info;
    }

    std::int32_t read(const mixer::ControlInfo& info) {
        std::int32_t value = -1;
        EXPECT_EQ(m_mixer->getValue(m_handle, info.controlId, &value), mixer::kNoError);
        return value;
    }

    PulseServer m_server;
    std::unique_ptr<mixer::Service> m_mixer;
    mixer::Handle m_handle = 0;
};

TEST_F(PulseMixerTest, SpeakersLineIsTheDefaultSink) {
    const mixer::ControlInfo volume = control(ComponentType::Speakers, ControlType::Volume);
    EXPECT_EQ(volume.minimum, 0);
    EXPECT_EQ(volume.maximum, 65536);
    ASSERT_EQ(m_mixer->setValue(m_handle, volume.controlId, 32750), mixer::kNoError);
    const QString answer = pactl({"get-sink-volume", "@DEFAULT_SINK@"});
    EXPECT_TRUE(answer.contains("front-left: 32750 /")) << answer.toStdString();
    EXPECT_TRUE(answer.contains("front-right: 32750 /")) << answer.toStdString();

    pactl({"set-sink-volume", "@DEFAULT_SINK@", "16384"}); // a change made elsewhere
    EXPECT_EQ(read(volume), 16384);

    const mixer::ControlInfo mute = control(ComponentType::Speakers, ControlType::Mute);
    ASSERT_EQ(m_mixer->setValue(m_handle, mute.controlId, 1), mixer::kNoError);
    EXPECT_TRUE(pactl({"get-sink-mute", "@DEFAULT_SINK@"}).contains("yes"));
    pactl({"set-sink-mute", "@DEFAULT_SINK@", "0"});
    EXPECT_EQ(read(mute), 0);
}

TEST_F(PulseMixerTest, WaveLineIsThisProgramsOwnPlayback) {
    const mixer::ControlInfo volume = control(ComponentType::WaveOut, ControlType::Volume);
    EXPECT_EQ(volume.maximum, 65535);
    ASSERT_EQ(m_mixer->setValue(m_handle, volume.controlId, 1000), mixer::kNoError);
    EXPECT_EQ(waveline::volume(), 1000);
    waveline::setVolume(2000);
    EXPECT_EQ(read(volume), 2000);

    const mixer::ControlInfo mute = control(ComponentType::WaveOut, ControlType::Mute);
    ASSERT_EQ(m_mixer->setValue(m_handle, mute.controlId, 1), mixer::kNoError);
    EXPECT_TRUE(waveline::muted());
    waveline::setMuted(false);
    EXPECT_EQ(read(mute), 0);
    waveline::setVolume(waveline::kMaxVolume);
}

TEST_F(PulseMixerTest, LinesWithoutCounterpartAreAbsent) {
    std::uint32_t lineId = 0;
    for (ComponentType line :
         {ComponentType::LineIn, ComponentType::Microphone, ComponentType::Synthesizer,
          ComponentType::CompactDisc, ComponentType::Auxiliary})
        EXPECT_EQ(m_mixer->findLine(m_handle, line, &lineId), mixer::kInvalidLine);
    mixer::Handle other = 0;
    EXPECT_EQ(m_mixer->open(1, &other), mixer::kBadDeviceId);
}

TEST(PulseMixerGoneTest, RequestsFailWithinTheTimeoutOnceTheServerIsGone) {
    auto server = std::make_unique<PulseServer>();
    ASSERT_TRUE(server->running());
    auto mixer = mixer::connectPulseService(server->address().toLocal8Bit().constData(), 500ms);
    ASSERT_NE(mixer, nullptr);
    mixer::Handle handle = 0;
    ASSERT_EQ(mixer->open(0, &handle), mixer::kNoError);
    std::uint32_t lineId = 0;
    mixer::ControlInfo volume;
    ASSERT_EQ(mixer->findLine(handle, ComponentType::Speakers, &lineId), mixer::kNoError);
    ASSERT_EQ(mixer->findControl(handle, lineId, ControlType::Volume, &volume), mixer::kNoError);
    server.reset();

    std::int32_t value = -1;
    EXPECT_EQ(mixer->getValue(handle, volume.controlId, &value), mixer::kError);
    EXPECT_EQ(value, -1);
    EXPECT_EQ(mixer->deviceCount(), 0);
    EXPECT_EQ(mixer->close(handle), mixer::kNoError);
}

} // namespace
