// The file-backed store: where it lives, persistence, layering, damaged or unusable files and
// concurrent writers.

#include "platform/registry/Registry.h"
#include "platform/registry/Stores.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempTree.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QStringList linesOf(const QByteArray& text) {
    return QString::fromLocal8Bit(text).split('\n', Qt::SkipEmptyParts);
}

// A file's type, size and link target: what must not change when the registry leaves it alone.
std::string shapeOf(const QString& path) {
    struct stat info {};
    if (::lstat(path.toLocal8Bit().constData(), &info) != 0)
        return "missing";
    char target[256] = {};
    ::readlink(path.toLocal8Bit().constData(), target, sizeof target - 1);
    return std::to_string(info.st_mode & S_IFMT) + " " + std::to_string(info.st_size) + " " +
           target;
}

class RegistryFileTest : public ::testing::Test {
protected:
    TempTree m_tree;
    registry::FileStorePaths m_paths{m_tree.path("user/registry.reg").toStdString(),
                                     m_tree.path("etc/registry.reg").toStdString()};

    void SetUp() override { registry::useFileStores(m_paths); }
    void TearDown() override { registry::useFileStores(registry::defaultFileStorePaths()); }

    // A new process would see exactly what the files hold: start over from them.
    void restart() { registry::useFileStores(m_paths); }

    LONG setText(HKEY root, const char* path, const char* name, const std::string& text) {
        HKEY key = 0;
        LONG result =
            RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        if (result != ERROR_SUCCESS)
            return result;
        result = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                DWORD(text.size() + 1));
        RegCloseKey(key);
        return result;
    }

    std::string queryText(HKEY root, const char* path, const char* name) {
        HKEY key = 0;
        if (LONG result = RegOpenKeyExA(root, path, 0, KEY_READ, &key); result != ERROR_SUCCESS)
            return "error " + std::to_string(result);
        char buffer[512] = {};
        DWORD size = sizeof buffer - 1;
        const LONG result =
            RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
        RegCloseKey(key);
        return result == ERROR_SUCCESS ? std::string(buffer) : "error " + std::to_string(result);
    }
};

TEST_F(RegistryFileTest, ValuesSurviveARestartInReadableText) {
    ASSERT_EQ(
        setText(HKEY_CLASSES_ROOT, "CLSID\\{1}\\InprocServer32", nullptr, "C:\\dir \"quoted\""),
        ERROR_SUCCESS);
    HKEY key = 0;
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_CLASSES_ROOT, "clsid\\{1}\\inprocserver32", 0, KEY_ALL_ACCESS, &key),
        ERROR_SUCCESS);
    const DWORD number = 0x68030002;
    const BYTE odd[] = {0xde, 0xad, 0x00};
    const BYTE noZero[] = {'a', 'b'};
    ASSERT_EQ(RegSetValueExA(key, "Id", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "Expand", 0, REG_EXPAND_SZ, odd, 3), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "Unterminated", 0, REG_SZ, noZero, 2), ERROR_SUCCESS);
    RegCloseKey(key);

    EXPECT_EQ(readAll(QString::fromStdString(m_paths.perUser)).toStdString(),
              "REGEDIT4\n\n"
              "[HKEY_CLASSES_ROOT\\CLSID]\n\n"
              "[HKEY_CLASSES_ROOT\\CLSID\\{1}]\n\n"
              "[HKEY_CLASSES_ROOT\\CLSID\\{1}\\InprocServer32]\n"
              "@=\"C:\\\\dir \\\"quoted\\\"\"\n"
              "\"Id\"=dword:68030002\n"
              "\"Expand\"=hex(2):de,ad,00\n"
              "\"Unterminated\"=hex(1):61,62\n");

    restart();
    EXPECT_EQ(queryText(HKEY_CLASSES_ROOT, "CLSID\\{1}\\InprocServer32", ""), "C:\\dir \"quoted\"");
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{1}\\InprocServer32", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD type = 0;
    BYTE data[8] = {};
    DWORD size = sizeof data;
    ASSERT_EQ(RegQueryValueExA(key, "Unterminated", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 2u) << "bytes come back exactly as stored";
    size = sizeof data;
    ASSERT_EQ(RegQueryValueExA(key, "Id", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(data[3], 0x68);
    RegCloseKey(key);
}

TEST_F(RegistryFileTest, HandWrittenFileWithContinuationsAndCommentsIsRead) {
    m_tree.file("user/registry.reg", "REGEDIT4\r\n"
                                     "; written by hand\r\n"
                                     "[HKEY_CURRENT_USER\\Software\\X]\r\n"
                                     "\"Blob\"=hex:01,02,\\\r\n"
                                     "  03\r\n"
                                     "\"Name\"=\"v\"\r\n");
    restart();
    EXPECT_EQ(queryText(HKEY_CURRENT_USER, "software\\x", "name"), "v");
    HKEY key = 0;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\X", 0, KEY_READ, &key), ERROR_SUCCESS);
    BYTE data[8];
    DWORD size = sizeof data;
    ASSERT_EQ(RegQueryValueExA(key, "Blob", nullptr, nullptr, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(data[2], 3);
    RegCloseKey(key);
}

TEST_F(RegistryFileTest, PerUserValuesOverSystemWideAndMachineKeysAreReadOnly) {
    m_tree.file("etc/registry.reg",
                "REGEDIT4\n\n"
                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\n"
                "\"PATH\"=\"/usr/bin/hardinfo\"\n\n"
                "[HKEY_CLASSES_ROOT\\http\\shell\\open\\command]\n"
                "@=\"system browser\"\n"
                "\"Other\"=\"kept\"\n");
    restart();
    const char* msinfo = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
    EXPECT_EQ(queryText(HKEY_LOCAL_MACHINE, msinfo, "PATH"), "/usr/bin/hardinfo");
    HKEY key = 0;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, msinfo, 0, 0x2003F, &key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(setText(HKEY_LOCAL_MACHINE, msinfo, "PATH", "/x"), ERROR_ACCESS_DENIED);

    ASSERT_EQ(setText(HKEY_CLASSES_ROOT, "http\\shell\\open\\command", "", "user browser"),
              ERROR_SUCCESS);
    EXPECT_EQ(queryText(HKEY_CLASSES_ROOT, "http\\shell\\open\\command", ""), "user browser");
    EXPECT_EQ(queryText(HKEY_CLASSES_ROOT, "http\\shell\\open\\command", "Other"), "kept");
    char name[16];
    DWORD nameChars = sizeof name;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "http\\shell\\open\\command", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    ASSERT_EQ(RegEnumValueA(key, 0, name, &nameChars, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "") << "an override keeps the system-wide value's place";
    RegCloseKey(key);
    EXPECT_EQ(readAll(m_tree.path("etc/registry.reg")).count("system browser"), 1)
        << "the system-wide file is not written by an ordinary caller";
}

TEST_F(RegistryFileTest, SystemWideInstallWritesTheSystemFile) {
    ASSERT_TRUE(registry::setSystemWideInstall(true));
    EXPECT_EQ(setText(HKEY_CLASSES_ROOT, "Pemrik.Dalvex\\CLSID", "", "{X}"), ERROR_SUCCESS);
    EXPECT_EQ(setText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Q", "v", "m"), ERROR_SUCCESS);
    EXPECT_EQ(setText(HKEY_CURRENT_USER, "Software\\Q", "v", "u"), ERROR_SUCCESS);
    ASSERT_TRUE(registry::setSystemWideInstall(false));
    const QByteArray system = readAll(m_tree.path("etc/registry.reg"));
    const QByteArray user = readAll(m_tree.path("user/registry.reg"));
    EXPECT_TRUE(system.contains("Pemrik.Dalvex") && system.contains("HKEY_LOCAL_MACHINE"));
    EXPECT_FALSE(system.contains("HKEY_CURRENT_USER"));
    EXPECT_TRUE(user.contains("HKEY_CURRENT_USER\\Software\\Q"));
    restart();
    EXPECT_EQ(queryText(HKEY_CLASSES_ROOT, "Pemrik.Dalvex\\CLSID", ""), "{X}");
}

TEST_F(RegistryFileTest, DamagedFileIsReadUpToTheDamageReportedOnceAndNeverShrunk) {
    const QByteArray damaged = "REGEDIT4\n\n"
                               "[HKEY_CURRENT_USER\\Software\\Good]\n"
                               "\"a\"=\"1\"\n"
                               "\"b\"=dword:zz\n"
                               "[HKEY_CURRENT_USER\\Software\\Lost]\n"
                               "\"c\"=\"3\"\n";
    const QString path = m_tree.file("user/registry.reg", damaged);
    restart();
    testing::internal::CaptureStderr();
    EXPECT_EQ(queryText(HKEY_CURRENT_USER, "Software\\Good", "a"), "1");
    EXPECT_EQ(queryText(HKEY_CURRENT_USER, "Software\\Lost", "c"), "error 2");
    EXPECT_EQ(setText(HKEY_CURRENT_USER, "Software\\New", "d", "4"), ERROR_BADDB);
    EXPECT_EQ(queryText(HKEY_CURRENT_USER, "Software\\Good", "a"), "1");
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_LE(std::count(messages.begin(), messages.end(), '\n'), 1) << messages;
    EXPECT_EQ(readAll(path), damaged) << "the damaged file is left as it was";
}

// Whatever sits at the store's path, start-up neither hangs nor fills the memory: only a
// regular file within the size limit is read; anything else is damaged from its start, said
// once, and never replaced.
TEST_F(RegistryFileTest, StoreThatIsNoSmallRegularFileIsDamagedAndLeftAlone) {
    const QByteArray good = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Big]\n\"a\"=\"1\"\n";
    const struct {
        const char* name;
        std::function<void(const std::string& path)> make;
    } cases[] = {
        {"fifo", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); }},
        {"link to /dev/zero",
         [](const std::string& path) { ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0); }},
        {"one byte over the limit",
         [&](const std::string& path) {
             m_tree.file("user/registry.reg", good);
             ASSERT_EQ(::truncate(path.c_str(), off_t(registry::kMaxRegistryFileBytes + 1)), 0);
         }},
    };
    const QString errors = m_tree.path("errors.txt");
    for (const auto& unusable : cases) {
        SCOPED_TRACE(unusable.name);
        m_tree.folder("user");
        ::unlink(m_paths.perUser.c_str());
        unusable.make(m_paths.perUser);
        const QString path = QString::fromStdString(m_paths.perUser);
        const std::string before = shapeOf(path);
        const int outcome = exitCodeInChild(
            [&] {
                restart();
                const bool read = queryText(HKEY_CURRENT_USER, "Software\\Big", "a") == "1";
                const bool written =
                    setText(HKEY_CURRENT_USER, "Software\\New", "d", "4") != ERROR_BADDB;
                queryText(HKEY_CURRENT_USER, "Software\\Big", "a");
                return (read ? 1 : 0) | (written ? 2 : 0);
            },
            errors);
        EXPECT_EQ(outcome, 0) << "-1: hung or died; 1: read; 2: written over";
        const QStringList lines = linesOf(readAll(errors));
        EXPECT_TRUE(lines.size() == 1 && lines[0].contains(path) && lines[0].contains("damaged"))
            << "reported once: " << lines.join('\n').toStdString();
        EXPECT_EQ(shapeOf(path), before);
    }
}

// With HOME unset the home comes from the password database; a relative XDG_DATA_HOME or HOME
// counts as unset. Never a shared folder such as /tmp, where anyone could plant a store.
TEST_F(RegistryFileTest, PerUserFileFollowsTheHome) {
    const passwd* user = ::getpwuid(::getuid());
    ASSERT_TRUE(user && user->pw_dir && QFileInfo(user->pw_dir).isDir());
    const std::string fromDatabase = std::string(user->pw_dir) + "/.local/share/quiva/registry.reg";
    const struct {
        std::optional<std::string> home, dataHome;
        std::string perUser;
        std::optional<std::string> store = std::nullopt; // QUIVA_REGISTRY
    } cases[] = {
        {std::nullopt, std::nullopt, fromDatabase},
        {"", std::nullopt, fromDatabase},
        {"relative/home", "relative/data", fromDatabase},
        {"/srv/alice", std::nullopt, "/srv/alice/.local/share/quiva/registry.reg"},
        {"/srv/alice", "/srv/data", "/srv/data/quiva/registry.reg"},
        {"/srv/alice", "/srv/data", "/build/registry.reg", "/build/registry.reg"},
        {"/srv/alice", std::nullopt, "/srv/alice/.local/share/quiva/registry.reg", "build/r.reg"},
    };
    const QByteArray savedHome = qgetenv("HOME"), savedDataHome = qgetenv("XDG_DATA_HOME");
    auto put = [](const char* name, const std::optional<std::string>& value) {
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    };
    for (const auto& environment : cases) {
        put("HOME", environment.home);
        put("XDG_DATA_HOME", environment.dataHome);
        put("QUIVA_REGISTRY", environment.store);
        EXPECT_EQ(registry::defaultFileStorePaths().perUser, environment.perUser)
            << "HOME=" << environment.home.value_or("(unset)")
            << " XDG_DATA_HOME=" << environment.dataHome.value_or("(unset)")
            << " QUIVA_REGISTRY=" << environment.store.value_or("(unset)");
    }
    ::unsetenv("QUIVA_REGISTRY");
    qputenv("HOME", savedHome);
    qputenv("XDG_DATA_HOME", savedDataHome);
}

// A user without a home has no per-user store: reads see the system-wide file, writes are
// refused with one clear message, and nothing is written anywhere.
TEST_F(RegistryFileTest, UserWithoutAHomeHasNoPerUserStore) {
    if (::getuid() == 0) {
        uid_t stranger = 54321;
        while (::getpwuid(stranger))
            ++stranger;
        const int outcome = exitCodeInChild(
            [stranger] {
                ::unsetenv("HOME");
                ::unsetenv("XDG_DATA_HOME");
                if (::setresuid(stranger, stranger, stranger) != 0)
                    return 2;
                return registry::defaultFileStorePaths().perUser.empty() ? 0 : 1;
            },
            m_tree.path("errors.txt"));
        EXPECT_EQ(outcome, 0) << "a user with no entry in the password database has a store";
    }
    m_tree.file("etc/registry.reg", "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\Pemrik.Dalvex\\CLSID]\n"
                                    "@=\"{X}\"\n");
    const QStringList filesBefore =
        QDir(m_tree.root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    registry::useFileStores({"", m_paths.systemWide});
    testing::internal::CaptureStderr();
    EXPECT_EQ(queryText(HKEY_CLASSES_ROOT, "Pemrik.Dalvex\\CLSID", ""), "{X}");
    EXPECT_EQ(setText(HKEY_CURRENT_USER, "Software\\Q", "v", "u"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(setText(HKEY_CLASSES_ROOT, "Pemrik.Dalvex\\CLSID", "", "{Y}"), ERROR_ACCESS_DENIED);
    HKEY key = 0;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Pemrik.Dalvex", 0, KEY_WRITE, &key),
              ERROR_ACCESS_DENIED);
    const QStringList lines =
        linesOf(QByteArray::fromStdString(testing::internal::GetCapturedStderr()));
    ASSERT_EQ(lines.size(), 1) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].contains("no home")) << lines[0].toStdString();
    EXPECT_EQ(QDir(m_tree.root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), filesBefore);
    EXPECT_FALSE(QFileInfo::exists(".lock")) << "nothing is written beside the working folder";
}

TEST_F(RegistryFileTest, FileWithoutHeaderIsDamaged) {
    m_tree.file("user/registry.reg", "[HKEY_CURRENT_USER\\Software\\X]\n\"a\"=\"1\"\n");
    restart();
    EXPECT_EQ(queryText(HKEY_CURRENT_USER, "Software\\X", "a"), "error 2");
    EXPECT_EQ(setText(HKEY_CURRENT_USER, "Software\\X", "a", "2"), ERROR_BADDB);
}

TEST_F(RegistryFileTest, TwoWritingProcessesKeepEachOthersValues) {
    constexpr int kValuesEach = 40;
    std::vector<pid_t> children;
    for (int writer = 0; writer < 2; ++writer) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            registry::useFileStores(m_paths);
            int failures = 0;
            for (int i = 0; i < kValuesEach; ++i) {
                const std::string name = "w" + std::to_string(writer) + "_" + std::to_string(i);
                failures += setText(HKEY_CURRENT_USER, "Software\\Shared", name.c_str(), name) !=
                            ERROR_SUCCESS;
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    restart();
    for (int writer = 0; writer < 2; ++writer) {
        for (int i = 0; i < kValuesEach; ++i) {
            const std::string name = "w" + std::to_string(writer) + "_" + std::to_string(i);
            EXPECT_EQ(queryText(HKEY_CURRENT_USER, "Software\\Shared", name.c_str()), name);
        }
    }
}

TEST_F(RegistryFileTest, ChangesByAnotherProcessAreSeenWithoutRestart) {
    ASSERT_EQ(setText(HKEY_CURRENT_USER, "Software\\Seen", "v", "first"), ERROR_SUCCESS);
    EXPECT_EQ(queryText(HKEY_CURRENT_USER, "Software\\Seen", "v"), "first");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        registry::useFileStores(m_paths);
        _exit(setText(HKEY_CURRENT_USER, "Software\\Seen", "v", "second, longer") == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(queryText(HKEY_CURRENT_USER, "Software\\Seen", "v"), "second, longer");
}

} // namespace
