#include "player/IniFile.h"

#include "tests/support/TempTree.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class IniFileTest : public ::testing::Test {
protected:
    TempTree tree;
    QString file() const { return tree.path("quiva.ini"); }
    void TearDown() override { setSettingsDirForTests({}); }
};

TEST_F(IniFileTest, WritesUpperCaseKeysThatLowerCaseReadsMeet) {
    WriteIniValue("quiva", "dir", "/music/\u00e9t\u00e9/", file());
    WriteIniValue("quiva", "height", "5580", file());
    EXPECT_EQ(readAll(file()), "[quiva]\nDIR=/music/\xC3\xA9t\xC3\xA9/\nHEIGHT=5580\n");
    EXPECT_EQ(ReadIniValue("quiva", "DIR", file()), "/music/\u00e9t\u00e9/");
    EXPECT_EQ(ReadIniValue("quiva", "Height", file()), "5580");
}

TEST_F(IniFileTest, ReadsEmptyTextForMissingValuesAndCutsLongOnes) {
    EXPECT_EQ(ReadIniValue("quiva", "dir", file()), "");
    tree.file("quiva.ini", "[Quiva]\nDir=" + QByteArray(2000, 'd') + "\n");
    EXPECT_EQ(ReadIniValue("quiva", "height", file()), "");
    EXPECT_EQ(ReadIniValue("quiva", "dir", file()), QString(749, u'd'));
}

TEST_F(IniFileTest, AFailedWriteIsNotRemembered) {
    tree.folder("quiva.ini");
    WriteIniValue("quiva", "dir", "/music/", file());
    EXPECT_TRUE(QFileInfo(file()).isDir());
    EXPECT_EQ(ReadIniValue("quiva", "dir", file()), "");
}

TEST_F(IniFileTest, SettingsLiveBesideTheProgramUnlessTheTestSeamPointsElsewhere) {
    setSettingsDirForTests(tree.root());
    EXPECT_EQ(settingsFileName(), tree.root() + "/quiva.ini");
    setSettingsDirForTests({});
    // The build's own bin folder is writable.
    EXPECT_EQ(settingsFileName(), QCoreApplication::applicationDirPath() + "/quiva.ini");
}

TEST_F(IniFileTest, AnUnwritableProgramFolderMovesTheSettingsToTheUserConfigFolder) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to look at the program folder as a user who cannot write it";
    ASSERT_EQ(::chmod(tree.root().toUtf8().constData(), 0777), 0);
    const QString config = tree.path("config");
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("XDG_CONFIG_HOME", config.toUtf8().constData(), 1);
        const QByteArray name = (::setgid(65534) == 0 && ::setuid(65534) == 0)
                                    ? settingsFileName().toUtf8()
                                    : QByteArray("could not drop privileges");
        (void)!::write(pipeEnds[1], name.constData(), size_t(name.size()));
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    char buffer[4096];
    const ssize_t got = ::read(pipeEnds[0], buffer, sizeof buffer);
    ::close(pipeEnds[0]);
    ::waitpid(child, nullptr, 0);
    ASSERT_GT(got, 0);
    EXPECT_EQ(QString::fromUtf8(buffer, got), config + "/quiva/quiva.ini");
    EXPECT_TRUE(QFileInfo(config + "/quiva").isDir());
}

} // namespace
