#include "platform/mixer/Backends.h"
#include "tests/support/Poll.h"
#include "tests/support/PulseServer.h"
#include "tests/support/TempTree.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>

// ALSA's simple mixer needs a control device, which a card has; without one, the control
// device of alsa-plugins' "pulse" plugin serves: its "Master" element is the volume and mute
// of a sound server's sink. Here that is a private server's null sink, watched through the
// PulseAudio mixer backend. The ALSA configuration is this program's own (ALSA_CONFIG_PATH).

namespace {

using namespace std::chrono_literals;
using mixer::ComponentType;
using mixer::ControlType;

// One mixer's view of a line: its volume and mute controls on an open device.
struct Line {
    mixer::Service* service = nullptr;
    mixer::Handle handle = 0;
    mixer::ControlInfo volume;
    mixer::ControlInfo mute;

    std::int32_t get(const mixer::ControlInfo& control) const {
        std::int32_t value = -1;
        EXPECT_EQ(service->getValue(handle, control.controlId, &value), mixer::kNoError);
        return value;
    }
    void set(const mixer::ControlInfo& control, std::int32_t value) const {
        EXPECT_EQ(service->setValue(handle, control.controlId, value), mixer::kNoError);
    }
};

Line openSpeakers(mixer::Service& service) {
    Line line;
    line.service = &service;
    std::uint32_t lineId = 0;
    EXPECT_EQ(service.open(0, &line.handle), mixer::kNoError);
    EXPECT_EQ(service.findLine(line.handle, ComponentType::Speakers, &lineId), mixer::kNoError);
    EXPECT_EQ(service.findControl(line.handle, lineId, ControlType::Volume, &line.volume),
              mixer::kNoError);
    EXPECT_EQ(service.findControl(line.handle, lineId, ControlType::Mute, &line.mute),
              mixer::kNoError);
    return line;
}

class AlsaMixerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.running());
        const QString config = QString(R"(
ctl.server_sink {
    type pulse
    server "%1"
    device "%2"
}
)")
                                   .arg(m_server.address(), PulseServer::kSinkName);
        setenv("ALSA_CONFIG_PATH", m_tree.file("asound.conf", config.toUtf8()).toLocal8Bit(), 1);
        m_alsa = mixer::makeAlsaService({"server_sink", "no_such_control_device"});
        m_pulse = mixer::connectPulseService(m_server.address().toLocal8Bit().constData(), 2000ms);
        ASSERT_NE(m_pulse, nullptr);
    }

    PulseServer m_server;
    TempTree m_tree;
    std::unique_ptr<mixer::Service> m_alsa;
    std::unique_ptr<mixer::Service> m_pulse;
};

TEST_F(AlsaMixerTest, volumeAndMuteGoBothWaysBetweenTheMixerAndTheDevice) {
    const Line alsa = openSpeakers(*m_alsa);
    const Line server = openSpeakers(*m_pulse);
    EXPECT_EQ(alsa.volume.minimum, 0);
    EXPECT_EQ(alsa.volume.maximum, 65536);
    EXPECT_EQ(alsa.mute.maximum, 1);

    struct Case {
        const char* name;
        const Line* writer;
        const Line* reader;
        mixer::ControlInfo Line::*control;
        std::int32_t value;
    };
    const Case cases[] = {
        {"volume set here", &alsa, &server, &Line::volume, 32768},
        {"volume set elsewhere", &server, &alsa, &Line::volume, 16384},
        {"mute set here", &alsa, &server, &Line::mute, 1},
        {"mute cleared elsewhere", &server, &alsa, &Line::mute, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.writer->set(c.writer->*c.control, c.value);
        EXPECT_TRUE(eventually([&] { return c.reader->get(c.reader->*c.control) == c.value; }))
            << c.reader->get(c.reader->*c.control);
    }
    EXPECT_EQ(m_alsa->close(alsa.handle), mixer::kNoError);
    std::int32_t value = -1;
    EXPECT_EQ(m_alsa->getValue(alsa.handle, alsa.volume.controlId, &value), mixer::kInvalidHandle);
}

TEST_F(AlsaMixerTest, linesTheDeviceLacksAndDevicesThatFailAreRefused) {
    EXPECT_EQ(m_alsa->deviceCount(), 2);
    mixer::Handle handle = 0;
    ASSERT_EQ(m_alsa->open(0, &handle), mixer::kNoError);
    std::uint32_t lineId = 0;
    for (ComponentType line : {ComponentType::WaveOut, ComponentType::LineIn,
                               ComponentType::Microphone, ComponentType::CompactDisc})
        EXPECT_EQ(m_alsa->findLine(handle, line, &lineId), mixer::kInvalidLine);
    ASSERT_EQ(m_alsa->findLine(handle, ComponentType::Speakers, &lineId), mixer::kNoError);
    mixer::ControlInfo info;
    EXPECT_EQ(m_alsa->findControl(handle, lineId, static_cast<ControlType>(0x40020001), &info),
              mixer::kInvalidControl);
    EXPECT_EQ(m_alsa->setValue(handle, 99, 0), mixer::kInvalidControl);

    mixer::Handle failed = 0;
    EXPECT_EQ(m_alsa->open(1, &failed), mixer::kError);
    EXPECT_EQ(m_alsa->open(2, &failed), mixer::kBadDeviceId);
    EXPECT_EQ(m_alsa->close(handle), mixer::kNoError);
    EXPECT_EQ(m_alsa->close(handle), mixer::kInvalidHandle);
}

} // namespace
