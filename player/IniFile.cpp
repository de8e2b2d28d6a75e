#include "player/IniFile.h"

#include "platform/profile/PrivateProfile.h"
#include "player/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <unistd.h>

namespace {

constexpr DWORD kReadBufferSize = 750;

QString& settingsDirForTests() {
    static QString directory;
    return directory;
}

bool isWritableDirectory(const QString& directory) {
    return !directory.isEmpty() &&
           ::access(QFile::encodeName(directory).constData(), W_OK | X_OK) == 0;
}

QString userConfigDirectory() {
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString base = QDir::isAbsolutePath(xdg) ? xdg : QDir::homePath() + "/.config";
    const QString directory = base + "/quiva";
    QDir().mkpath(directory);
    return directory;
}

} // namespace

void WriteIniValue(const QString& section, const QString& key, const QString& value,
                   const QString& fileName) {
    WritePrivateProfileStringA(section.toUtf8().constData(), key.toUpper().toUtf8().constData(),
                               value.toUtf8().constData(), QFile::encodeName(fileName).constData());
}

QString ReadIniValue(const QString& section, const QString& key, const QString& fileName) {
    char buffer[kReadBufferSize] = {};
    const DWORD count = GetPrivateProfileStringA(
        section.toUtf8().constData(), key.toLower().toUtf8().constData(), "", buffer,
        kReadBufferSize, QFile::encodeName(fileName).constData());
    return QString::fromUtf8(buffer, qsizetype(count));
}

QString settingsFileName() {
    if (!settingsDirForTests().isEmpty())
        return settingsDirForTests() + "/" + settings::kFileName;
    const QString programDirectory = QCoreApplication::applicationDirPath();
    if (isWritableDirectory(programDirectory))
        return programDirectory + "/" + settings::kFileName;
    return userConfigDirectory() + "/" + settings::kFileName;
}

void setSettingsDirForTests(const QString& directory) {
    settingsDirForTests() = directory;
}
