// The installed player as a user gets it: the Debian package unpacked (QUIVA_DEB names it), or
// this build installed with prefix /usr, in a fresh root that is then moved elsewhere, so that
// nothing installed can depend on where it was first written. Nothing touches the real system.

#include "player/mpris/MprisNames.h"
#include "tests/support/TempTree.h"
#include "tests/support/Xvfb.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <memory>

namespace {

struct Finished {
    int exitCode = -1; // -1 when the program did not start or did not end in time
    QString output;    // standard output and standard error, merged
};

// The environment of this process without anything that could point the dynamic loader at the
// build tree behind the installed files' backs.
QProcessEnvironment cleanEnvironment() {
    auto env = QProcessEnvironment::systemEnvironment();
    env.remove("LD_LIBRARY_PATH");
    env.remove("LD_PRELOAD");
    return env;
}

Finished runToEnd(const QString& program, const QStringList& args) {
    QProcess process;
    process.setProcessEnvironment(cleanEnvironment());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    Finished result;
    if (process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    result.output = QString::fromUtf8(process.readAll());
    return result;
}

QString packageFile() {
    return qEnvironmentVariable("QUIVA_DEB");
}

QString canonical(const QString& path) {
    return QFileInfo(path).canonicalFilePath();
}

// The value of `key` in a desktop entry or similar key=value text; empty when absent.
QString keyValue(const QByteArray& text, const QString& key) {
    const QRegularExpression line("^" + QRegularExpression::escape(key) + "=(.*)$",
                                  QRegularExpression::MultilineOption);
    return line.match(QString::fromUtf8(text)).captured(1).trimmed();
}

// The folders a binary's RUNPATH (or RPATH) names, as readelf prints them.
QStringList librarySearchPath(const QString& binary) {
    const Finished dynamic = runToEnd("readelf", {"-d", binary});
    const QRegularExpression entry(R"(Library (?:runpath|rpath): \[([^\]]*)\])");
    return entry.match(dynamic.output).captured(1).split(':', Qt::SkipEmptyParts);
}

// The files of the given name that a running process has mapped.
QStringList mappedFiles(qint64 pid, const QString& fileName) {
    QStringList found;
    const auto lines = readAll(QStringLiteral("/proc/%1/maps").arg(pid)).split('\n');
    for (const QByteArray& line : lines) {
        const QString path = QString::fromUtf8(line).section(' ', -1);
        if (path.endsWith('/' + fileName) && !found.contains(path))
            found << path;
    }
    return found;
}

class InstalledRootTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_tree = std::make_unique<TempTree>();
        const QString staging = s_tree->folder("staging");
        const Finished made =
            packageFile().isEmpty()
                ? runToEnd("cmake", {"--install", qEnvironmentVariable("QUIVA_BUILD_DIR"),
                                     "--prefix", staging + "/usr"})
                : runToEnd("dpkg-deb", {"-x", packageFile(), staging});
        s_failure = made.exitCode == 0 ? QString() : made.output;
        s_tree->folder("elsewhere");
        if (s_failure.isEmpty() && !QDir().rename(staging, s_tree->path("elsewhere/root")))
            s_failure = "cannot move the installed root";
    }

    static void TearDownTestSuite() { s_tree.reset(); }

    void SetUp() override {
        ASSERT_TRUE(s_failure.isEmpty()) << "installing failed:\n" << s_failure.toStdString();
    }

    static QString installed(const QString& relative) {
        return s_tree->path("elsewhere/root/usr/" + relative);
    }

    static std::unique_ptr<TempTree> s_tree;
    static QString s_failure;
};

std::unique_ptr<TempTree> InstalledRootTest::s_tree;
QString InstalledRootTest::s_failure;

TEST_F(InstalledRootTest, HoldsTheProgramInBinAndItsPrivateFilesUnderLibQuiva) {
    EXPECT_EQ(QDir(installed("bin")).entryList(QDir::Files), QStringList{"quiva"});
    EXPECT_EQ(QDir(installed("lib/quiva")).entryList(QDir::Files, QDir::Name),
              (QStringList{"libDalvex.so", "libquiva-platform.so", "quiva-regsvr"}));
    EXPECT_TRUE(QFileInfo(installed("bin/quiva")).isExecutable());
    EXPECT_TRUE(QFileInfo(installed("lib/quiva/quiva-regsvr")).isExecutable());
}

TEST_F(InstalledRootTest, FindsItsLibrariesOnlyRelativeToItself) {
    for (const char* binary : {"bin/quiva", "lib/quiva/quiva-regsvr", "lib/quiva/libDalvex.so",
                               "lib/quiva/libquiva-platform.so"}) {
        for (const QString& folder : librarySearchPath(installed(binary)))
            EXPECT_TRUE(folder.startsWith("$ORIGIN"))
                << binary << " searches " << folder.toStdString();
    }
    EXPECT_EQ(librarySearchPath(installed("bin/quiva")), QStringList{"$ORIGIN/../lib/quiva"});
}

TEST_F(InstalledRootTest, DesktopEntryIconsAndMetadataAreValidAndNameInstalledFiles) {
    const QString entry = installed("share/applications/quiva.desktop");
    const Finished desktop = runToEnd("desktop-file-validate", {entry});
    EXPECT_EQ(desktop.exitCode, 0);
    EXPECT_EQ(desktop.output, "") << "desktop-file-validate warns";

    const QByteArray entryText = readAll(entry);
    EXPECT_TRUE(QFileInfo(installed("bin/" + keyValue(entryText, "Exec"))).isExecutable());
    const QString icon = keyValue(entryText, "Icon");
    for (int size : {16, 48}) {
        const QImage picture(
            installed(QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(icon)));
        EXPECT_EQ(picture.size(), QSize(size, size)) << "icon " << size;
    }

    const QString metainfo = installed("share/metainfo/org.example.quiva.metainfo.xml");
    const Finished appstream = runToEnd("appstreamcli", {"validate", "--no-net", metainfo});
    EXPECT_EQ(appstream.exitCode, 0) << appstream.output.toStdString();
    const QRegularExpression launchable(R"(<launchable type="desktop-id">([^<]+)</launchable>)");
    const QString desktopId = launchable.match(QString::fromUtf8(readAll(metainfo))).captured(1);
    EXPECT_TRUE(QFile::exists(installed("share/applications/" + desktopId)))
        << desktopId.toStdString();
    // The media controls name the entry the desktop shows the player by (its icon and name).
    const QString mediaControlsEntry = QString::fromLatin1(mpris::kDesktopEntry) + ".desktop";
    EXPECT_TRUE(QFile::exists(installed("share/applications/" + mediaControlsEntry)))
        << mediaControlsEntry.toStdString();
}

// Registers the control per user (the package does it system-wide), starts the moved player on a
// private X server, and checks that it shows its window with the installed libraries loaded.
TEST_F(InstalledRootTest, PlayerStartsWithTheInstalledLibrariesAndShowsItsWindow) {
    const QString control = installed("lib/quiva/libDalvex.so");
    const Finished registered = runToEnd(installed("lib/quiva/quiva-regsvr"), {control});
    ASSERT_EQ(registered.exitCode, 0) << registered.output.toStdString();
    const QByteArray store = readAll(qEnvironmentVariable("XDG_DATA_HOME") + "/quiva/registry.reg");
    EXPECT_TRUE(store.contains(canonical(control).toUtf8()));

    Xvfb x;
    ASSERT_TRUE(x.running());
    QProcess player;
    auto env = cleanEnvironment();
    env.insert("DISPLAY", x.display());
    env.insert("QT_QPA_PLATFORM", "xcb");
    player.setProcessEnvironment(env);
    player.setProcessChannelMode(QProcess::ForwardedChannels);
    player.start(installed("bin/quiva"), {});
    ASSERT_TRUE(player.waitForStarted(5000));

    const QString window = runOnDisplay(x.display(), "timeout",
                                        {"10", "xdotool", "search", "--sync", "--onlyvisible",
                                         "--name", "^Quiva Media Player$"})
                               .section('\n', 0, 0);
    EXPECT_FALSE(window.isEmpty()) << "the main window never showed";
    const QString platform = canonical(installed("lib/quiva/libquiva-platform.so"));
    EXPECT_EQ(mappedFiles(player.processId(), "libquiva-platform.so").join(' ').toStdString(),
              platform.toStdString());
    EXPECT_EQ(mappedFiles(player.processId(), "libDalvex.so").join(' ').toStdString(),
              canonical(control).toStdString())
        << "the player did not host the installed volume control";
    if (!window.isEmpty()) {
        const QString wmClass = runOnDisplay(x.display(), "xprop", {"-id", window, "WM_CLASS"});
        const QByteArray entryText = readAll(installed("share/applications/quiva.desktop"));
        EXPECT_TRUE(wmClass.endsWith('"' + keyValue(entryText, "StartupWMClass") + '"'))
            << "desktop entry's StartupWMClass does not match " << wmClass.toStdString();
    }

    player.terminate();
    if (!player.waitForFinished(5000)) {
        player.kill();
        player.waitForFinished(5000);
    }
}

TEST_F(InstalledRootTest, PackageDependsOnItsLibrariesAndRegistersTheControlSystemWide) {
    if (packageFile().isEmpty())
        GTEST_SKIP() << "no package given (QUIVA_DEB); `make deb` builds one and runs this";
    const QString depends = runToEnd("dpkg-deb", {"-f", packageFile(), "Depends"}).output;
    for (const char* library :
         {"libc6", "libqt6widgets6", "libmpg123-0", "libpulse0", "libasound2", "qt6-wayland"})
        EXPECT_TRUE(depends.contains(library))
            << library << " missing from " << depends.toStdString();

    const QString postinst = runToEnd("dpkg-deb", {"-I", packageFile(), "postinst"}).output;
    EXPECT_TRUE(
        postinst.contains("/usr/lib/quiva/quiva-regsvr --system /usr/lib/quiva/libDalvex.so"));
    const QString prerm = runToEnd("dpkg-deb", {"-I", packageFile(), "prerm"}).output;
    EXPECT_TRUE(
        prerm.contains("/usr/lib/quiva/quiva-regsvr -u --system /usr/lib/quiva/libDalvex.so"));
}

} // namespace
