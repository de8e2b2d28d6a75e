#include "platform/audio/WaveLine.h"
#include "platform/mixer/Backends.h"
#include "platform/mixer/Mixer.h"
#include "tests/support/TempTree.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

using namespace std::chrono_literals;

// The test runs with a private runtime directory and no server address, so no sound server
// answers: device 0 is there all the same, for the wave-out line (the engine's own, which any
// output plays), and the other lines are ALSA's, of as many cards as the machine has.
TEST(MixerServiceTest, WithoutServerTheWaveLineAndTheCardsServeAndOtherIndexesAreRefused) {
    mixer::Service& service = mixer::service();
    const int devices = std::max(1, mixer::makeAlsaService()->deviceCount());
    EXPECT_EQ(service.deviceCount(), devices);
    for (const int index : {-1, devices}) {
        mixer::Handle handle = 0;
        EXPECT_EQ(service.open(index, &handle), mixer::kBadDeviceId) << index;
        EXPECT_EQ(handle, 0u);
    }
    EXPECT_EQ(service.close(1), mixer::kInvalidHandle);
    std::int32_t value = 0;
    EXPECT_EQ(service.getValue(1, 1, &value), mixer::kInvalidHandle);

    mixer::Handle handle = 0;
    std::uint32_t line = 0;
    mixer::ControlInfo volume;
    ASSERT_EQ(service.open(0, &handle), mixer::kNoError);
    ASSERT_EQ(service.findLine(handle, mixer::ComponentType::WaveOut, &line), mixer::kNoError);
    ASSERT_EQ(service.findControl(handle, line, mixer::ControlType::Volume, &volume),
              mixer::kNoError);
    EXPECT_EQ(service.setValue(handle, volume.controlId, 6554), mixer::kNoError);
    EXPECT_EQ(waveline::volume(), 6554);
    waveline::setVolume(waveline::kMaxVolume);
    EXPECT_EQ(service.close(handle), mixer::kNoError);
}

TEST(MixerServiceTest, AbsentServerIsNotChosen) {
    TempTree tree;
    const std::string address = "unix:" + tree.path("no-server").toStdString();
    EXPECT_EQ(mixer::connectPulseService(address.c_str(), 2000ms), nullptr);
}

// A socket that accepts connections but never says a word: the client must give up at its
// timeout instead of waiting for the server for good.
TEST(MixerServiceTest, SilentServerCostsOneTimeoutAndNoHang) {
    TempTree tree;
    const std::string path = tree.path("silent").toStdString();
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof(address.sun_path));
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(listener, 4), 0);

    const auto started = std::chrono::steady_clock::now();
    auto service = mixer::connectPulseService(("unix:" + path).c_str(), 300ms);
    const auto waited = std::chrono::steady_clock::now() - started;
    close(listener);

    EXPECT_EQ(service, nullptr);
    EXPECT_LT(waited, 5s);
}

} // namespace
