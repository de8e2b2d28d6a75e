// The registry calls' semantics, over the in-memory store.

#include "platform/registry/Registry.h"
#include "platform/registry/Providers.h"
#include "platform/registry/Stores.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::vector<BYTE> textBytes(const std::string& text) {
    std::vector<BYTE> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

class RegistryTest : public ::testing::Test {
protected:
    registry::ScopedInMemoryStore m_store;

    HKEY create(HKEY root, const char* path) {
        HKEY key = 0;
        EXPECT_EQ(
            RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        return key;
    }
    void setText(HKEY key, const char* name, const std::string& text) {
        const auto bytes = textBytes(text);
        ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, bytes.data(), DWORD(bytes.size())),
                  ERROR_SUCCESS);
    }
    void setDword(HKEY key, const char* name, DWORD number) {
        ASSERT_EQ(RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4),
                  ERROR_SUCCESS);
    }
    std::string queryText(HKEY key, const char* name) {
        char buffer[256] = {};
        DWORD size = sizeof buffer;
        DWORD type = 0;
        const LONG result =
            RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
        if (result != ERROR_SUCCESS)
            return "error " + std::to_string(result);
        return std::string(buffer);
    }
};

TEST_F(RegistryTest, ValuesEnumerateInInsertionOrderThenEnd) {
    HKEY key = create(HKEY_CLASSES_ROOT, "http\\shell\\open\\command");
    setText(key, nullptr, "\"/usr/bin/browser\" --new");
    setDword(key, "Count", 7);
    const BYTE raw[] = {1, 2, 3};
    ASSERT_EQ(RegSetValueExA(key, "Raw", 0, REG_BINARY, raw, 3), ERROR_SUCCESS);

    std::vector<std::string> names;
    std::vector<DWORD> types;
    for (DWORD i = 0;; ++i) {
        char name[260];
        DWORD nameChars = sizeof name;
        DWORD type = 0;
        BYTE data[4096];
        DWORD dataBytes = sizeof data;
        const LONG result =
            RegEnumValueA(key, i, name, &nameChars, nullptr, &type, data, &dataBytes);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(result, ERROR_SUCCESS);
        EXPECT_EQ(nameChars, std::strlen(name));
        names.push_back(name);
        types.push_back(type);
        if (i == 0) {
            EXPECT_EQ(dataBytes, 25u) << "texts keep their terminating zero";
            EXPECT_STREQ(reinterpret_cast<char*>(data), "\"/usr/bin/browser\" --new");
        }
        if (i == 1) {
            EXPECT_EQ(dataBytes, 4u);
            EXPECT_EQ(data[0], 7);
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"", "Count", "Raw"}));
    EXPECT_EQ(types, (std::vector<DWORD>{REG_SZ, REG_DWORD, REG_BINARY}));
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE) << "a handle closes once";
}

TEST_F(RegistryTest, BuffersTooSmallReportMoreDataAndTheSizeNeeded) {
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Test");
    setText(key, "LongName", "0123456789");

    char name[4];
    DWORD nameChars = sizeof name;
    BYTE data[64];
    DWORD dataBytes = sizeof data;
    EXPECT_EQ(RegEnumValueA(key, 0, name, &nameChars, nullptr, nullptr, data, &dataBytes),
              ERROR_MORE_DATA)
        << "a name longer than its buffer";

    char bigName[9];
    nameChars = sizeof bigName; // "LongName" and its zero fit exactly
    dataBytes = 5;
    EXPECT_EQ(RegEnumValueA(key, 0, bigName, &nameChars, nullptr, nullptr, data, &dataBytes),
              ERROR_MORE_DATA);
    EXPECT_EQ(dataBytes, 11u) << "the size needed comes back";

    dataBytes = 0;
    EXPECT_EQ(RegQueryValueExA(key, "longname", nullptr, nullptr, nullptr, &dataBytes),
              ERROR_SUCCESS)
        << "no buffer: only the size is asked";
    EXPECT_EQ(dataBytes, 11u);
    dataBytes = 10;
    EXPECT_EQ(RegQueryValueExA(key, "LongName", nullptr, nullptr, data, &dataBytes),
              ERROR_MORE_DATA);
    EXPECT_EQ(RegQueryValueExA(key, "LongName", nullptr, nullptr, data, nullptr),
              ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
}

TEST_F(RegistryTest, NamesMatchWithoutCaseAndKeepTheirFirstSpelling) {
    HKEY key = create(HKEY_CLASSES_ROOT, "CLSID\\{ABC}\\InprocServer32");
    setText(key, nullptr, "/lib/one.so");
    setText(key, "ThreadingModel", "Apartment");
    setText(key, "THREADINGMODEL", "Both"); // replaces, keeps the first spelling
    RegCloseKey(key);

    HKEY again = 0;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "clsid\\{abc}\\inprocserver32", 0, KEY_READ, &again),
              ERROR_SUCCESS);
    EXPECT_EQ(queryText(again, "threadingmodel"), "Both");
    char name[64];
    DWORD nameChars = sizeof name;
    ASSERT_EQ(RegEnumValueA(again, 1, name, &nameChars, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "ThreadingModel");
    EXPECT_EQ(RegEnumValueA(again, 2, name, &nameChars, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    RegCloseKey(again);
}

TEST_F(RegistryTest, DefaultValueIsTheUnnamedOneAndAbsentUntilSet) {
    HKEY key = create(HKEY_CLASSES_ROOT, "Pemrik.Dalvex");
    EXPECT_EQ(queryText(key, nullptr), "error 2") << "a new key has no default value";
    setText(key, "", "Dalvex control");
    EXPECT_EQ(queryText(key, nullptr), "Dalvex control");
    EXPECT_EQ(queryText(key, ""), "Dalvex control");
    EXPECT_EQ(RegDeleteValueA(key, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(queryText(key, ""), "error 2");
    EXPECT_EQ(RegDeleteValueA(key, nullptr), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(RegistryTest, MissingKeysAndBadHandlesFailCleanly) {
    HKEY key = 12345;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "no\\such\\key", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, 0u);
    EXPECT_EQ(RegOpenKeyExA(0x4242, "x", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExA(0x4242, "x", nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "x", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, DeletedKeyMakesOpenHandlesReportIt) {
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Gone\\Deeper");
    setText(key, "v", "x");
    ASSERT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "software\\gone"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "software\\gone"), ERROR_FILE_NOT_FOUND);
    HKEY missing = 0;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Gone\\Deeper", 0, KEY_READ, &missing),
              ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(RegistryTest, ReadOnlyRootRefusesWriteRightsButServesReads) {
    HKEY key = create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
    setText(key, "PATH", "/usr/bin/sysinfo");
    RegCloseKey(key);
    registry::setInMemoryRootWritable(HKEY_LOCAL_MACHINE, false);

    HKEY opened = 0;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", 0,
                            0x2003F, &opened),
              ERROR_ACCESS_DENIED);
    for (REGSAM write : {KEY_SET_VALUE, KEY_CREATE_SUB_KEY, KEY_CREATE_LINK})
        EXPECT_EQ(
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_QUERY_VALUE | write, &opened),
            ERROR_ACCESS_DENIED)
            << write;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", 0,
                            KEY_READ, &opened),
              ERROR_SUCCESS);
    EXPECT_EQ(queryText(opened, "PATH"), "/usr/bin/sysinfo");
    const BYTE one = 1;
    EXPECT_EQ(RegSetValueExA(opened, "PATH", 0, REG_BINARY, &one, 1), ERROR_ACCESS_DENIED)
        << "a handle opened for reading cannot write";
    RegCloseKey(opened);

    HKEY created = 0;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &created, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE"), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryTest, HandleWithoutQueryRightCannotRead) {
    HKEY key = create(HKEY_CURRENT_USER, "Software\\Q");
    setText(key, "v", "x");
    HKEY writeOnly = 0;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Q", 0, KEY_SET_VALUE, &writeOnly),
              ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(writeOnly, "v", nullptr, nullptr, nullptr, nullptr),
              ERROR_ACCESS_DENIED);
    RegCloseKey(writeOnly);
    RegCloseKey(key);
}

TEST_F(RegistryTest, ProvidedKeyAnswersOnlyWhenNoStoreHoldsItAndIsReadOnly) {
    int calls = 0;
    bool present = true;
    registry::provideKey(HKEY_CLASSES_ROOT, "http\\shell\\open\\command", [&] {
        ++calls;
        using Values = std::vector<registry::ProvidedValue>;
        return present ? std::optional<Values>(Values{{"", REG_SZ, textBytes("\"/bin/web\"")}})
                       : std::nullopt;
    });

    HKEY key = 0;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "HTTP\\Shell\\Open\\Command", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(queryText(key, nullptr), "\"/bin/web\"");
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "http\\shell\\open\\command", 0, 0x2003F, &key),
              ERROR_SUCCESS)
        << "a write-capable open finds the key; only writes are refused";
    const BYTE one = 1;
    EXPECT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, &one, 1), ERROR_ACCESS_DENIED);
    RegCloseKey(key);

    present = false;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "http\\shell\\open\\command", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND)
        << "the key exists exactly when the provider answers";

    HKEY stored = create(HKEY_CLASSES_ROOT, "http\\shell\\open\\command");
    setText(stored, nullptr, "\"/opt/stored\"");
    RegCloseKey(stored);
    const int callsBefore = calls;
    present = true;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "http\\shell\\open\\command", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(queryText(key, nullptr), "\"/opt/stored\"") << "a stored key wins";
    EXPECT_EQ(calls, callsBefore) << "the provider is not even asked";
    RegCloseKey(key);
}

} // namespace
