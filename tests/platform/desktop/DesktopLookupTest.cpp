#include "platform/desktop/Desktop.h"

#include "platform/registry/Stores.h"
#include "tests/support/TempTree.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

// A private desktop: XDG folders, PATH and desktop name all inside one temporary tree.
class DesktopLookupTest : public ::testing::Test {
protected:
    TempTree tree;

    void SetUp() override {
        qputenv("XDG_CONFIG_HOME", tree.folder("config").toLocal8Bit());
        qputenv("XDG_CONFIG_DIRS", (tree.folder("etc-xdg")).toLocal8Bit());
        qputenv("XDG_DATA_HOME", tree.folder("data").toLocal8Bit());
        qputenv("XDG_DATA_DIRS", (tree.folder("usr-share")).toLocal8Bit());
        qputenv("PATH", tree.folder("bin").toLocal8Bit());
        qunsetenv("XDG_CURRENT_DESKTOP");
    }

    QString program(const QString& name) {
        const QString path = tree.file("bin/" + name, "#!/bin/sh\n");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
    QString entry(const QString& dataDir, const QString& id, const QString& exec,
                  const QString& extra = {}) {
        return tree.file(
            dataDir + "/applications/" + id,
            ("[Desktop Entry]\nType=Application\nName=Browser\nExec=" + exec + "\n" + extra)
                .toUtf8());
    }
    void associate(const QString& file, const QString& group, const QString& ids) {
        tree.file(file, ("[" + group + "]\nx-scheme-handler/http=" + ids + "\n").toUtf8());
    }
};

} // namespace

TEST_F(DesktopLookupTest, UserDefaultBrowserBecomesAQuotedProgramWithItsArguments) {
    const QString browser = program("fakebrowser");
    entry("data", "fake.desktop", "fakebrowser --new-window %u");
    associate("config/mimeapps.list", "Default Applications", "fake.desktop;");

    EXPECT_EQ(desktop::defaultApplicationEntry("x-scheme-handler/http"),
              tree.path("data/applications/fake.desktop"));
    const auto launcher = desktop::defaultWebBrowser();
    ASSERT_TRUE(launcher);
    EXPECT_EQ(launcher->program, browser);
    EXPECT_EQ(launcher->arguments, QStringList({"--new-window", "%1"}));
    EXPECT_EQ(desktop::commandLine(*launcher), '"' + browser + "\" --new-window \"%1\"");
}

TEST_F(DesktopLookupTest, PrecedenceFollowsTheXdgOrderAndTheDesktopSpecificLists) {
    program("a");
    program("b");
    program("c");
    entry("usr-share", "a.desktop", "a %u");
    entry("usr-share", "b.desktop", "b %u");
    entry("usr-share", "c.desktop", "c %u");
    associate("usr-share/applications/mimeapps.list", "Default Applications", "c.desktop");
    EXPECT_TRUE(desktop::defaultApplicationEntry("x-scheme-handler/http").endsWith("/c.desktop"));

    associate("etc-xdg/mimeapps.list", "Default Applications", "b.desktop");
    EXPECT_TRUE(desktop::defaultApplicationEntry("x-scheme-handler/http").endsWith("/b.desktop"));

    associate("config/mimeapps.list", "Default Applications", "a.desktop");
    EXPECT_TRUE(desktop::defaultApplicationEntry("x-scheme-handler/http").endsWith("/a.desktop"));

    qputenv("XDG_CURRENT_DESKTOP", "Other:XFCE");
    associate("config/xfce-mimeapps.list", "Default Applications", "c.desktop");
    EXPECT_TRUE(desktop::defaultApplicationEntry("x-scheme-handler/http").endsWith("/c.desktop"));
}

TEST_F(DesktopLookupTest, UnusableEntriesArePassedOverAndWeakerListsServeLast) {
    program("good");
    entry("data", "hidden.desktop", "good %u", "Hidden=true\n");
    entry("data", "noexec.desktop", "");
    associate("config/mimeapps.list", "Default Applications",
              "missing.desktop;hidden.desktop;noexec.desktop");
    EXPECT_EQ(desktop::defaultApplicationEntry("x-scheme-handler/http"), QString());
    EXPECT_FALSE(desktop::defaultWebBrowser());

    // An entry id with a dash may name a file in a sub-folder.
    entry("usr-share", "vendor/good.desktop", "good %u");
    tree.file("usr-share/applications/mimeinfo.cache",
              "[MIME Cache]\nx-scheme-handler/http=vendor-good.desktop;\n");
    EXPECT_EQ(desktop::defaultApplicationEntry("x-scheme-handler/http"),
              tree.path("usr-share/applications/vendor/good.desktop"));

    entry("data", "added.desktop", "good %u");
    associate("etc-xdg/mimeapps.list", "Added Associations", "added.desktop");
    EXPECT_TRUE(
        desktop::defaultApplicationEntry("x-scheme-handler/http").endsWith("/added.desktop"));
}

TEST_F(DesktopLookupTest, ExecLineQuotingEscapesAndFieldCodes) {
    const QString spaced = tree.file("opt/my browser/run", "#!/bin/sh\n");
    QFile::setPermissions(spaced, QFile::ReadOwner | QFile::ExeOwner);
    const QString file = entry("data", "q.desktop",
                               "\"" + spaced +
                                   "\" --profile \"a \\\\\"b\\\\\"\" %U %i %c %k 100%%"
                                   " --url=%u");
    const auto launcher = desktop::launcherFromEntry(file);
    ASSERT_TRUE(launcher);
    EXPECT_EQ(launcher->program, spaced);
    EXPECT_EQ(launcher->arguments, QStringList({"--profile", "a \"b\"", "%1", "100%", "--url=%1"}));
    EXPECT_EQ(desktop::commandLine(*launcher),
              '"' + spaced + "\" --profile \"a \"b\"\" \"%1\" 100% --url=%1");
}

TEST_F(DesktopLookupTest, ProgramsThatCannotBeFoundGiveNoLauncher) {
    EXPECT_FALSE(desktop::launcherFromEntry(entry("data", "x.desktop", "nosuchbrowser %u")));
    const QString plain = tree.file("opt/notexec", "data");
    EXPECT_FALSE(desktop::launcherFromEntry(entry("data", "y.desktop", plain + " %u")));
    EXPECT_FALSE(desktop::launcherFromEntry(tree.path("data/applications/none.desktop")));
}

TEST_F(DesktopLookupTest, SystemInformationProgramIsTheFirstKnownOneOnPath) {
    EXPECT_EQ(desktop::systemInformationProgram(), QString());
    program("gnome-system-monitor");
    const QString kinfocenter = program("kinfocenter");
    EXPECT_EQ(desktop::systemInformationProgram(), kinfocenter);
}

namespace {
QString readString(HKEY root, const char* path, const char* name) {
    HKEY key = 0;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return QStringLiteral("<no key>");
    char data[1024] = {};
    DWORD type = 0, size = sizeof data;
    const LONG result =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_SZ ? QString::fromLocal8Bit(data)
                                                     : QStringLiteral("<no value>");
}
constexpr const char* kBrowserKey = "http\\shell\\open\\command";
constexpr const char* kMsinfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
} // namespace

TEST_F(DesktopLookupTest, RegistryAnswersFromTheDesktopUnlessAStoreHoldsTheKey) {
    registry::ScopedInMemoryStore store;
    desktop::installRegistryProviders();
    EXPECT_EQ(readString(HKEY_CLASSES_ROOT, kBrowserKey, ""), "<no key>");
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, kMsinfoKey, "PATH"), "<no key>");

    // Looked up anew at each open: a browser chosen later is seen.
    const QString browser = program("fakebrowser");
    entry("data", "fake.desktop", "fakebrowser %u");
    associate("config/mimeapps.list", "Default Applications", "fake.desktop");
    const QString info = program("hardinfo");
    EXPECT_EQ(readString(HKEY_CLASSES_ROOT, kBrowserKey, ""), '"' + browser + "\" \"%1\"");
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, kMsinfoKey, "PATH"), info);

    HKEY key = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, kBrowserKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const char stored[] = "\"/opt/stored/browser\" -- \"%1\"";
    RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(stored), sizeof stored);
    RegCloseKey(key);
    EXPECT_EQ(readString(HKEY_CLASSES_ROOT, kBrowserKey, ""), stored);
}
