// Registry calls from several threads at once, over the file store.

#include "platform/registry/Registry.h"
#include "platform/registry/Stores.h"
#include "tests/support/TempTree.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

TEST(RegistryThreadsTest, ConcurrentWritersAndReadersLoseNothing) {
    TempTree tree;
    registry::useFileStores(
        {tree.path("user.reg").toStdString(), tree.path("system.reg").toStdString()});
    constexpr int kThreads = 3;
    constexpr int kValuesEach = 20;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failed = failures[static_cast<std::size_t>(t)]] {
            for (int i = 0; i < kValuesEach; ++i) {
                HKEY key = 0;
                if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Threads", 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
                    ++failed;
                    continue;
                }
                const std::string name = std::to_string(t) + "_" + std::to_string(i);
                const DWORD number = static_cast<DWORD>(t * 1000 + i);
                failed +=
                    RegSetValueExA(key, name.c_str(), 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&number), 4) != ERROR_SUCCESS;
                DWORD read = 0;
                DWORD size = sizeof read;
                failed +=
                    RegQueryValueExA(key, name.c_str(), nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(&read), &size) != ERROR_SUCCESS ||
                    read != number;
                RegCloseKey(key);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));

    registry::useFileStores(
        {tree.path("user.reg").toStdString(), tree.path("system.reg").toStdString()});
    HKEY key = 0;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Threads", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD count = 0;
    char name[32];
    for (DWORD nameChars = sizeof name; RegEnumValueA(key, count, name, &nameChars, nullptr,
                                                      nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         nameChars = sizeof name)
        ++count;
    EXPECT_EQ(count, DWORD(kThreads * kValuesEach));
    RegCloseKey(key);
    registry::useFileStores(registry::defaultFileStorePaths());
}

} // namespace
