#include "player/frmAbout.h"

#include "platform/registry/Stores.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/ProcessStart.h"
#include "player/InfoPage.h"
#include "tests/support/TempTree.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const char* kMsinfo = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const char* kLocation = "SOFTWARE\\Microsoft\\Shared Tools Location";
const QString kUnavailable = QStringLiteral("System Information Is Unavailable At This Time");

void setValue(HKEY root, const char* path, const char* name, DWORD type, const QByteArray& data) {
    HKEY key = 0;
    ASSERT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.constData()),
                   DWORD(data.size()));
    RegCloseKey(key);
}
void setText(HKEY root, const char* path, const char* name, const QString& text) {
    setValue(root, path, name, REG_SZ, text.toLocal8Bit() + '\0');
}

// Runs the deletion of dialogs that closed themselves.
void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A main window, an empty registry, recorders for program starts and message boxes.
class AboutBoxTest : public ::testing::Test {
protected:
    registry::ScopedInMemoryStore store;
    TempTree tree;
    QWidget mainWindow;
    QStringList started;
    QStringList boxes;
    bool startWorks = true;

    void SetUp() override {
        process::setStarter([this](const QString& program, const QStringList&) {
            started << program;
            return startWorks;
        });
        msgbox::setAnswerer([this](const QString& text, int, const QString& title) {
            EXPECT_EQ(title, QStringLiteral("Quiva"));
            boxes << text;
            return int(msgbox::kIdOk);
        });
        mainWindow.resize(100, 50);
        mainWindow.show();
    }
    void TearDown() override {
        process::setStarter({});
        msgbox::setAnswerer({});
        flushDeletes();
    }
};

// Each text against the room its control gives it, in the font the control draws it with.
void expectWhole(const QLabel* label) {
    const QFontMetrics metrics(label->font());
    const QRect room = label->contentsRect();
    const QRect text = metrics.boundingRect(
        room, int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0), label->text());
    EXPECT_LE(text.width(), room.width()) << label->text().toStdString();
    EXPECT_LE(text.height(), room.height()) << label->text().toStdString();
}
void expectWhole(const QPushButton* button) {
    QStyleOptionButton option;
    option.initFrom(button);
    const QRect room =
        button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    const QSize text = QFontMetrics(button->font()).size(Qt::TextShowMnemonic, button->text());
    EXPECT_LE(text.width(), room.width()) << button->text().toStdString();
    EXPECT_LE(text.height(), room.height()) << button->text().toStdString();
}

} // namespace

TEST_F(AboutBoxTest, OpeningMinimisesTheMainWindowAndShowsAModelessBox) {
    QPointer<frmAbout> about = frmAbout::mnuAbout_Click(&mainWindow);
    EXPECT_TRUE(mainWindow.isMinimized());
    ASSERT_TRUE(about);
    EXPECT_TRUE(about->isVisible());
    EXPECT_FALSE(about->isModal());
    EXPECT_EQ(about->windowTitle(), "About Quiva");
    EXPECT_EQ(about->size(), QSize(382, 237));
    EXPECT_TRUE(about->cmdOK->isDefault());
    EXPECT_EQ(about->Label1->text(), kInfoPageUrl);
    EXPECT_TRUE(kInfoPageUrl.endsWith("/quiva_info.html"));
    EXPECT_FALSE(about->picIcon->pixmap().isNull());

    // Tab order: OK, icon, System Info, then the labels; the labels never take the focus.
    EXPECT_EQ(about->cmdOK->nextInFocusChain(), about->picIcon);
    EXPECT_EQ(about->picIcon->nextInFocusChain(), about->cmdSysInfo);
    about->close();
}

TEST_F(AboutBoxTest, ChoosingAboutAgainBringsTheOpenBoxToTheFront) {
    QPointer<frmAbout> about = frmAbout::mnuAbout_Click(&mainWindow);
    QWidget other;
    other.show();
    other.activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), &other);

    EXPECT_EQ(frmAbout::mnuAbout_Click(&mainWindow), about.data());
    QTRY_COMPARE(QApplication::activeWindow(), about.data());
    int boxes = 0;
    for (QWidget* top : QApplication::topLevelWidgets())
        boxes += qobject_cast<frmAbout*>(top) != nullptr;
    EXPECT_EQ(boxes, 1);

    about->close();
    flushDeletes();
    QPointer<frmAbout> next = frmAbout::mnuAbout_Click(&mainWindow);
    ASSERT_TRUE(next);
    EXPECT_TRUE(next->isVisible());
    next->close();
}

// The desktop's font as Qt gets it (DejaVu Sans on a stock Debian desktop), and the sizes that
// desktops commonly set.
TEST_F(AboutBoxTest, EveryTextShowsWholeInTheDesktopsFont) {
    const QFont desktopFont = QApplication::font();
    QList<QFont> fonts{desktopFont};
    for (double points : {9.0, 10.0, 11.0, 12.0}) {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPointSizeF(points);
        fonts << font;
    }
    for (const QFont& font : fonts) {
        SCOPED_TRACE(font.toString().toStdString());
        QApplication::setFont(font);
        frmAbout about(&mainWindow);
        for (const QLabel* label : {about.lblTitle, about.lblVersion, about.lblDescription,
                                    about.lblDisclaimer, about.Label1})
            expectWhole(label);
        for (const QPushButton* button : {about.cmdOK, about.cmdSysInfo})
            expectWhole(button);
        // Made to fit, not merely made small.
        EXPECT_GE(about.lblDisclaimer->font().pointSizeF(), 6.0);
    }
    QApplication::setFont(desktopFont);
}

TEST_F(AboutBoxTest, EscapeAndEnterBothPressOk) {
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
        QPointer<frmAbout> about = frmAbout::mnuAbout_Click(&mainWindow);
        mainWindow.hide();
        QTest::keyClick(about.data(), key);
        flushDeletes();
        EXPECT_FALSE(about) << "key " << key;
        EXPECT_FALSE(mainWindow.isMinimized()) << "key " << key;
        EXPECT_TRUE(mainWindow.isVisible()) << "key " << key;
    }
}

TEST_F(AboutBoxTest, CloseBoxShowsTheMainWindowButLeavesItMinimised) {
    QPointer<frmAbout> about = frmAbout::mnuAbout_Click(&mainWindow);
    mainWindow.hide();
    about->close();
    flushDeletes();
    EXPECT_FALSE(about);
    EXPECT_TRUE(mainWindow.isVisible());
    EXPECT_TRUE(mainWindow.isMinimized());
}

TEST_F(AboutBoxTest, SystemInfoPathIsStartedAndTheSecondKeyIsNotConsulted) {
    setText(HKEY_LOCAL_MACHINE, kMsinfo, "PATH", "/usr/bin/hardinfo");
    setText(HKEY_LOCAL_MACHINE, kLocation, "MSINFO", tree.folder("msinfo"));
    tree.file("msinfo/MSINFO32.EXE");
    frmAbout about(&mainWindow);
    QTest::mouseClick(about.cmdSysInfo, Qt::LeftButton);
    EXPECT_EQ(started, QStringList{"/usr/bin/hardinfo"});
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(AboutBoxTest, WithoutPathTheProgramInTheMsinfoFolderStarts) {
    setText(HKEY_LOCAL_MACHINE, kLocation, "MSINFO", tree.folder("msinfo"));
    const QString program = tree.file("msinfo/MSINFO32.EXE");
    frmAbout about(&mainWindow);
    about.StartSysInfo();
    EXPECT_EQ(started, QStringList{program});
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(AboutBoxTest, FolderWithoutTheProgramOrNothingRegisteredGivesTheMessage) {
    frmAbout about(&mainWindow);
    about.StartSysInfo();
    setText(HKEY_LOCAL_MACHINE, kLocation, "MSINFO", tree.folder("empty"));
    about.StartSysInfo();
    EXPECT_TRUE(started.isEmpty());
    EXPECT_EQ(boxes, QStringList({kUnavailable, kUnavailable}));
}

TEST_F(AboutBoxTest, StoreThatRefusesWriteAccessHidesBothValues) {
    setText(HKEY_LOCAL_MACHINE, kMsinfo, "PATH", "/usr/bin/hardinfo");
    setText(HKEY_LOCAL_MACHINE, kLocation, "MSINFO", tree.folder("msinfo"));
    tree.file("msinfo/MSINFO32.EXE");
    registry::setInMemoryRootWritable(HKEY_LOCAL_MACHINE, false);
    frmAbout about(&mainWindow);
    about.StartSysInfo();
    EXPECT_TRUE(started.isEmpty());
    EXPECT_EQ(boxes, QStringList{kUnavailable});
}

TEST_F(AboutBoxTest, ProgramThatFailsToStartGivesTheMessage) {
    setText(HKEY_LOCAL_MACHINE, kMsinfo, "PATH", "/gone/hardinfo");
    startWorks = false;
    frmAbout about(&mainWindow);
    about.StartSysInfo();
    EXPECT_EQ(started, QStringList{"/gone/hardinfo"});
    EXPECT_EQ(boxes, QStringList{kUnavailable});
}

TEST_F(AboutBoxTest, KeyValuesByType) {
    frmAbout about(&mainWindow);
    const quint32 number = 0x00ABCDEF;
    setValue(HKEY_LOCAL_MACHINE, "K", "dword", REG_DWORD,
             QByteArray(reinterpret_cast<const char*>(&number), 4));
    setValue(HKEY_LOCAL_MACHINE, "K", "raw", REG_BINARY, "\x01\x02");
    setValue(HKEY_LOCAL_MACHINE, "K", "empty", REG_SZ, QByteArray());
    setValue(HKEY_LOCAL_MACHINE, "K", "huge", REG_SZ, QByteArray(1100, 'a') + '\0');
    setText(HKEY_LOCAL_MACHINE, "K", "text", "/opt/x");

    using enum frmAbout::KeyRead;
    QString value = "before";
    EXPECT_EQ(about.GetKeyValue(HKEY_LOCAL_MACHINE, "K", "text", value), Read);
    EXPECT_EQ(value, "/opt/x");
    EXPECT_EQ(about.GetKeyValue(HKEY_LOCAL_MACHINE, "K", "dword", value), Read);
    EXPECT_EQ(value, "&hABCDEF");
    value = "kept";
    EXPECT_EQ(about.GetKeyValue(HKEY_LOCAL_MACHINE, "K", "raw", value), Read);
    EXPECT_EQ(value, "kept");
    // No data at all is an error, not a "not read": the value is not even emptied.
    EXPECT_EQ(about.GetKeyValue(HKEY_LOCAL_MACHINE, "K", "empty", value), Error);
    EXPECT_EQ(value, "kept");
    for (const char* failing : {"huge", "missing"}) {
        value = "x";
        EXPECT_EQ(about.GetKeyValue(HKEY_LOCAL_MACHINE, "K", failing, value), NotRead) << failing;
        EXPECT_EQ(value, "") << failing;
    }
    value = "x";
    EXPECT_EQ(about.GetKeyValue(HKEY_LOCAL_MACHINE, "Missing", "text", value), NotRead);
    EXPECT_EQ(value, "");
}

TEST_F(AboutBoxTest, EmptyPathValueGivesTheMessageWithoutTryingTheSecondKey) {
    setValue(HKEY_LOCAL_MACHINE, kMsinfo, "PATH", REG_SZ, QByteArray());
    setText(HKEY_LOCAL_MACHINE, kLocation, "MSINFO", tree.folder("msinfo"));
    tree.file("msinfo/MSINFO32.EXE");
    frmAbout about(&mainWindow);
    about.StartSysInfo();
    EXPECT_TRUE(started.isEmpty());
    EXPECT_EQ(boxes, QStringList{kUnavailable});
}

TEST_F(AboutBoxTest, AddressLabelOpensTheInformationPage) {
    setText(HKEY_CLASSES_ROOT, "http\\shell\\open\\command", "", "\"/opt/browser\" \"%1\"");
    QStringList arguments;
    process::setStarter([&](const QString& program, const QStringList& args) {
        started << program;
        arguments = args;
        return true;
    });
    frmAbout about(&mainWindow);
    QTest::mouseClick(about.Label1, Qt::LeftButton);
    EXPECT_EQ(started, QStringList{"/opt/browser"});
    EXPECT_EQ(arguments, QStringList{kInfoPageUrl});
}
