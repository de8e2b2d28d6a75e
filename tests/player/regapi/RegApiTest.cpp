#include "player/RegAPI.h"

#include "platform/registry/Stores.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/ProcessStart.h"

#include <gtest/gtest.h>

namespace {

constexpr const char* kBrowserKey = "http\\shell\\open\\command";
const QString kAddress = QStringLiteral("https://quiva.example.org/quiva_info.html");
const QString kNoBrowser = QStringLiteral("Unable to open URL. Install browser first!");

struct Started {
    QString program;
    QStringList arguments;
};

// An empty registry, a recorder in place of program start and of the message boxes.
class LauncherTest : public ::testing::Test {
protected:
    registry::ScopedInMemoryStore store;
    QList<Started> started;
    QStringList boxes;
    bool startWorks = true;

    void SetUp() override {
        process::setStarter([this](const QString& program, const QStringList& arguments) {
            started << Started{program, arguments};
            return startWorks;
        });
        msgbox::setAnswerer([this](const QString& text, int buttons, const QString& title) {
            EXPECT_EQ(buttons, msgbox::kOkOnly);
            EXPECT_EQ(title, QStringLiteral("Quiva"));
            boxes << text;
            return int(msgbox::kIdOk);
        });
    }
    void TearDown() override {
        process::setStarter({});
        msgbox::setAnswerer({});
    }

    static void setValue(HKEY root, const char* path, const char* name, DWORD type,
                         const QByteArray& data) {
        HKEY key = 0;
        ASSERT_EQ(
            RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.constData()),
                       DWORD(data.size()));
        RegCloseKey(key);
    }
    static void setText(HKEY root, const char* path, const char* name, const QByteArray& text) {
        setValue(root, path, name, REG_SZ, text + '\0');
    }
    void registerBrowser(const QByteArray& command) {
        setText(HKEY_CLASSES_ROOT, kBrowserKey, "", command);
    }
};

} // namespace

TEST_F(LauncherTest, QuotedProgramPathWithOptionStartsThePathWithTheAddressOnly) {
    registerBrowser("\"/opt/web browser/browser\" -osint -url \"%1\"");
    EXPECT_EQ(GetBrowserPath(), "\"/opt/web browser/browser\"");
    OpenURL(kAddress);
    ASSERT_EQ(started.size(), 1);
    EXPECT_EQ(started[0].program, "/opt/web browser/browser");
    EXPECT_EQ(started[0].arguments, QStringList{kAddress});
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(LauncherTest, CommandWithoutAnyQuoteMeansNoBrowser) {
    registerBrowser("/usr/bin/browser %1");
    EXPECT_EQ(GetBrowserPath(), "Invalid");
    OpenURL(kAddress);
    EXPECT_TRUE(started.isEmpty());
    EXPECT_EQ(boxes, QStringList{kNoBrowser});
}

TEST_F(LauncherTest, QuoteOnlyLaterKeepsEverythingUpToIt) {
    registerBrowser("/usr/bin/browser --url \"%1\"");
    EXPECT_EQ(GetBrowserPath(), "/usr/bin/browser --url \"");
    OpenURL(kAddress);
    ASSERT_EQ(started.size(), 1);
    EXPECT_EQ(started[0].program, "/usr/bin/browser");
    EXPECT_EQ(started[0].arguments, QStringList({"--url", kAddress}));

    // A quote as the very first character does not count: the search starts at the second.
    registerBrowser("\"");
    EXPECT_EQ(GetBrowserPath(), "Invalid");
}

TEST_F(LauncherTest, OnlyTheFirstValueEnumeratedIsUsed) {
    setText(HKEY_CLASSES_ROOT, kBrowserKey, "Backup", "\"/first/browser\"");
    registerBrowser("\"/default/browser\"");
    const QList<RegValueEntry> values = EnumRegValues(HKEY_CLASSES_ROOT, kBrowserKey);
    ASSERT_EQ(values.size(), 2);
    EXPECT_EQ(values[0].name, "Backup");
    EXPECT_EQ(values[1].name, "");
    EXPECT_EQ(GetBrowserPath(), "\"/first/browser\"");
}

TEST_F(LauncherTest, MissingKeyOrEmptyCommandShowsTheMessageAndStartsNothing) {
    OpenURL(kAddress);
    registerBrowser("");
    OpenURL(kAddress);
    EXPECT_TRUE(started.isEmpty());
    EXPECT_EQ(boxes, QStringList({kNoBrowser, kNoBrowser}));
}

TEST_F(LauncherTest, AddressIsOneArgumentAndAFailedStartIsReported) {
    registerBrowser("\"/gone/browser\" \"%1\"");
    startWorks = false;
    const QString hostile = QStringLiteral("https://x.example/\"; rm -rf ~; echo \"$(id)`id`");
    OpenURL(hostile);
    ASSERT_EQ(started.size(), 1);
    EXPECT_EQ(started[0].program, "/gone/browser");
    EXPECT_EQ(started[0].arguments, QStringList{hostile});
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].contains("/gone/browser"));
    EXPECT_NE(boxes[0], kNoBrowser);
}

TEST_F(LauncherTest, RealStartOfAMissingProgramFailsWithoutEndingTheProgram) {
    process::setStarter({});
    registerBrowser("\"/nonexistent/quiva-test-browser\" \"%1\"");
    OpenURL(kAddress);
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].contains("/nonexistent/quiva-test-browser"));
}

TEST_F(LauncherTest, EnumerationGrowsPastItsFirstRoomAndKeepsTheOrder) {
    for (int i = 0; i < 250; ++i)
        setValue(HKEY_CLASSES_ROOT, "Many", QByteArray::number(i).constData(), REG_DWORD,
                 QByteArray::fromRawData(reinterpret_cast<const char*>(&i), 4));
    const QList<RegValueEntry> values = EnumRegValues(HKEY_CLASSES_ROOT, "Many");
    ASSERT_EQ(values.size(), 250);
    for (int i = 0; i < 250; ++i) {
        EXPECT_EQ(values[i].name, QString::number(i));
        EXPECT_EQ(std::get<qint32>(values[i].data), i);
    }

    HKEY key = 0;
    RegCreateKeyExA(HKEY_CLASSES_ROOT, "Empty", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    RegCloseKey(key);
    EXPECT_TRUE(EnumRegValues(HKEY_CLASSES_ROOT, "Empty").isEmpty());
    EXPECT_TRUE(EnumRegValues(HKEY_CLASSES_ROOT, "Missing").isEmpty());
}

TEST_F(LauncherTest, DataByTypeAndTheListEndsAtAValueTooLargeForTheBuffers) {
    setValue(HKEY_CLASSES_ROOT, "Types", "text", REG_SZ, QByteArray("abc", 4));
    setValue(HKEY_CLASSES_ROOT, "Types", "empty", REG_SZ, QByteArray());
    const qint32 minusTwo = -2;
    setValue(HKEY_CLASSES_ROOT, "Types", "number", REG_DWORD,
             QByteArray(reinterpret_cast<const char*>(&minusTwo), 4));
    setValue(HKEY_CLASSES_ROOT, "Types", "raw", REG_BINARY, QByteArray("\x01\x00\x02", 3));
    setValue(HKEY_CLASSES_ROOT, "Types", "big", REG_BINARY, QByteArray(4097, 'x'));
    setValue(HKEY_CLASSES_ROOT, "Types", "after", REG_SZ, QByteArray("z", 2));

    const QList<RegValueEntry> values = EnumRegValues(HKEY_CLASSES_ROOT, "Types");
    ASSERT_EQ(values.size(), 4);
    EXPECT_EQ(std::get<QString>(values[0].data), "abc");
    EXPECT_EQ(std::get<QString>(values[1].data), "");
    EXPECT_EQ(std::get<qint32>(values[2].data), -2);
    EXPECT_EQ(std::get<QByteArray>(values[3].data), QByteArray("\x01\x00\x02", 3));

    setValue(HKEY_CLASSES_ROOT, "Names", std::string(260, 'n').c_str(), REG_SZ, "x");
    EXPECT_TRUE(EnumRegValues(HKEY_CLASSES_ROOT, "Names").isEmpty());
    setValue(HKEY_CLASSES_ROOT, "Names2", std::string(259, 'n').c_str(), REG_SZ, "x");
    EXPECT_EQ(EnumRegValues(HKEY_CLASSES_ROOT, "Names2").size(), 1);
}
