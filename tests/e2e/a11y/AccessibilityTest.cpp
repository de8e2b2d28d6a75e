#include "tests/support/PlayerProcess.h"
#include "tests/support/Poll.h"
#include "tests/support/PulseServer.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/SessionBus.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <gtest/gtest.h>
#include <optional>

namespace {

// The program's standard output once it ended with 0; nothing when it failed.
std::optional<QString> run(const QString& program, const QStringList& args) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel); // tracebacks in the log
    process.start(program, args);
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput());
}

std::optional<QString> probe(const QStringList& args) {
    return run(qEnvironmentVariable("QUIVA_SOURCE_DIR") + "/tests/e2e/a11y/atspi_probe.py", args);
}

// The playlist shows, with "b" (1000 Hz) alone; the creator does not.
TEST(AccessibilityTest, EveryButtonIsNamedAndPressable) {
    SessionBus bus;
    PulseServer pulse;
    ASSERT_TRUE(bus.running() && pulse.running()) << "cannot start a private bus or sound server";
    bus.exportAddress();
    pulse.exportAddress();
    const pid_t launcher =
        serverprocess::spawn({"/usr/libexec/at-spi-bus-launcher", "--launch-immediately"}, {});
    const auto stopLauncher = qScopeGuard([&] { serverprocess::stop(launcher); });
    ASSERT_TRUE(eventually(
        [] {
            return run("dbus-send", {"--session", "--print-reply", "--dest=org.a11y.Bus",
                                     "/org/a11y/bus", "org.a11y.Bus.GetAddress"})
                .has_value();
        },
        20000))
        << "at-spi-bus-launcher (at-spi2-core) gives no accessibility bus";
    TempTree tree;
    ASSERT_TRUE(QFile::copy(buildDir() + "/test-mp3s/tone1000-stereo-192k.mp3",
                            tree.folder("music") + "/b.mp3"));
    MonitorRecorder recorder{pulse};
    PlayerProcess player{tree};
    qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"); // as with a screen reader running
    ASSERT_FALSE(player.start(settingsText(tree.path("music"))).isEmpty())
        << "the player never showed";

    // Selecting "b" is a click on it: Play then plays it (with no click, Play would play nothing).
    ASSERT_TRUE(recorder.running() && recorder.waitForFrames(0, PulseServer::kRateHz / 10, 10000));
    ASSERT_TRUE(eventually([] { return probe({"select", "0"}).has_value(); }, 30000));
    ASSERT_TRUE(probe({"press", "Play"}));
    EXPECT_TRUE(eventually([&] { return recorder.hearsTone(1000); }, 10000))
        << "Press on Play does not play the selected song";

    QStringList shown = {
        "push button|Add|Add directory to playlist|Press,SetFocus|showing",
        "push button|Remove|Select songs to remove and click here|Press,SetFocus|showing",
        "push button|Clear|Clear the entire playlist|Press,SetFocus|showing",
        "push button|Add folder||Press,SetFocus|hidden",
        "push button|Done||Press,SetFocus|hidden",
        "combo box|Drive||ShowMenu,Press|hidden",
        "slider|Volume||SetFocus,Increase,Decrease|showing",
        "list|Playlist|||showing",
        "list item|b||Toggle|showing",
        "list|Folder|||hidden",
        "label|Quiva \u00B9\u00B7\u00B9|||showing",
        "label|You can add music to the playlist by selecting 'Add' and select a "
        "directory.|||showing",
    };
    for (const char* name :
         {"Previous", "Play", "Pause", "Stop", "Next", "Minimise", "Close", "Menu"})
        shown << QStringLiteral("push button|%1||Press,SetFocus|showing").arg(name);
    // The creator opens, then closes again: the entries of a hidden list (the creator's, the
    // drive box's drop-down) are not showing, so with it closed the song is the one on screen.
    const struct {
        const char* press;
        QStringList expected;
        bool songAloneShowing;
    } stages[] = {
        {nullptr, shown, true},
        {"Add",
         {"push button|Add folder||Press,SetFocus|showing",
          "push button|Done||Press,SetFocus|showing", "combo box|Drive||ShowMenu,Press|showing",
          "list|Folder|||showing", "list item|/||Toggle|showing"},
         false},
        {"Done", {"combo box|Drive||ShowMenu,Press|hidden", "list|Folder|||hidden"}, true},
    };
    for (const auto& stage : stages) {
        SCOPED_TRACE(stage.press ? stage.press : "as started");
        if (stage.press) {
            ASSERT_TRUE(probe({"press", stage.press}));
        }
        QStringList seen, missing;
        eventually(
            [&] {
                seen = probe({"table"}).value_or("").split('\n');
                missing.clear();
                for (const QString& row : stage.expected)
                    if (!seen.contains(row))
                        missing << row;
                return missing.isEmpty();
            },
            30000);
        EXPECT_TRUE(missing.isEmpty()) << "missing:\n"
                                       << missing.join('\n').toStdString() << "\namong:\n"
                                       << seen.join('\n').toStdString();
        EXPECT_EQ(seen.filter(QRegularExpression("^push button\\|")).size(), 13);
        if (stage.songAloneShowing) {
            EXPECT_EQ(seen.filter(QRegularExpression("^list item\\|.*\\|showing$"))
                          .join('\n')
                          .toStdString(),
                      "list item|b||Toggle|showing");
        }
    }
}

} // namespace
