// The file-backed store: persistence, layering, damaged files and concurrent writers.

#include "platform/registry/Registry.h"
#include "platform/registry/Stores.h"
#include "tests/support/TempTree.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

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
