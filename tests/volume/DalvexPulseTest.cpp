// The control on a real sound server: the master line is the server's default output.

#include "platform/mixer/Backends.h"
#include "tests/support/PulseServer.h"
#include "volume/Dalvex.h"
#include "volume/PemrikGuids.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

QString defaultSinkVolume() {
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {"get-sink-volume", "@DEFAULT_SINK@"});
    if (!pactl.waitForFinished(10000))
        return QStringLiteral("<pactl did not finish>");
    return QString::fromLocal8Bit(pactl.readAllStandardOutput());
}

TEST(DalvexPulse, puttingTheMasterVolumeSetsTheDefaultOutput) {
    PulseServer server;
    ASSERT_TRUE(server.running());
    server.exportAddress();
    auto pulse = mixer::connectPulseService(server.address().toLocal8Bit().constData(), 2000ms);
    ASSERT_NE(pulse, nullptr);
    mixer::ScopedService scope(*pulse);

    auto control = com::ComPtr<IDispatch>::adopt(com::createControl<Dalvex>());
    ASSERT_EQ(control.as<IPersistPropertyBag>()->InitNew(), S_OK);
    ASSERT_EQ(com::putProperty(control.get(), pemrik::kDispidDeviceToControl,
                               com::makeI4(Dalvex::mMaster)),
              S_OK);
    ASSERT_EQ(com::putProperty(control.get(), pemrik::kDispidVolume, com::makeI4(50)), S_OK);

    const QString answer = defaultSinkVolume();
    EXPECT_TRUE(answer.contains("front-left: 32750 /")) << answer.toStdString();
    control.reset();
}

} // namespace
