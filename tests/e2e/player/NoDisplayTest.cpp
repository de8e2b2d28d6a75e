#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

// Started outside a graphical session, the player says so and ends with a plain failure: no
// abort, no core dump, no help text about reinstalling.
namespace {

struct Session {
    const char* what;
    const char* display;        // DISPLAY, or null for none
    const char* waylandDisplay; // WAYLAND_DISPLAY, or null for none
};

class NoDisplayTest : public ::testing::TestWithParam<Session> {};

TEST_P(NoDisplayTest, ThePlayerSaysItNeedsAGraphicalSessionAndFails) {
    ASSERT_FALSE(QFileInfo::exists("/tmp/.X11-unix/X9999")) << "an X server answers at :9999";
    auto env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"})
        env.remove(name);
    if (GetParam().display)
        env.insert("DISPLAY", GetParam().display);
    if (GetParam().waylandDisplay)
        env.insert("WAYLAND_DISPLAY", GetParam().waylandDisplay);
    QProcess player;
    player.setProcessEnvironment(env);
    player.start(qEnvironmentVariable("QUIVA_BUILD_DIR") + "/bin/quiva", {});
    ASSERT_TRUE(player.waitForFinished(20000)) << "the player did not end";

    const QString errors = QString::fromLocal8Bit(player.readAllStandardError());
    EXPECT_EQ(player.exitStatus(), QProcess::NormalExit) << "it crashed: " << errors.toStdString();
    EXPECT_EQ(player.exitCode(), 1);
    EXPECT_TRUE(errors.contains("needs a graphical session (X11 or Wayland)"))
        << errors.toStdString();
    EXPECT_FALSE(errors.contains("Reinstalling")) << errors.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    , NoDisplayTest,
    ::testing::Values(Session{"Nothing", nullptr, nullptr}, Session{"EmptyDisplay", "", ""},
                      Session{"DisplayWithoutServer", ":9999", nullptr},
                      Session{"WaylandSocketWithoutCompositor", nullptr, "quiva-no-compositor"}),
    [](const auto& info) { return std::string(info.param.what); });

} // namespace
