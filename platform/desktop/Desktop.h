#pragma once

// What the desktop says about programs the player starts: the default web browser and a system
// information program. The registry answers the two keys the player reads from these when no
// registry file holds them.
//
// Thread rule: any thread; every function reads the environment and the files anew.

#include <QString>
#include <QStringList>
#include <optional>

namespace desktop {

// A program to start: an executable file and the arguments of its desktop entry, with the
// address placeholder written as "%1".
struct Launcher {
    QString program;
    QStringList arguments;
};

// The desktop entry file (absolute path) of the default handler of a MIME type, as
// `xdg-mime query default` finds it: [Default Applications] of the mimeapps.list files
// (desktop-specific ones first) in $XDG_CONFIG_HOME, $XDG_CONFIG_DIRS, $XDG_DATA_HOME/applications
// and $XDG_DATA_DIRS/applications, then their [Added Associations], then mimeinfo.cache. An entry
// that is missing, hidden or has no Exec line is passed over. Empty when none is found.
QString defaultApplicationEntry(const QString& mimeType);

// The program of a desktop entry's Exec line, resolved on PATH, and its arguments: quoting and
// escapes undone, %u %U %f %F become "%1", %i %c %k and unknown field codes are dropped, %% is %.
// nullopt when the file has no usable Exec line or its program cannot be found.
std::optional<Launcher> launcherFromEntry(const QString& desktopFile);

// The default web browser (the handler of x-scheme-handler/http).
std::optional<Launcher> defaultWebBrowser();

// A Windows-style command line for a launcher: the quoted program path, then each argument,
// quoted when it contains a space, separated by single spaces.
QString commandLine(const Launcher& launcher);

// The absolute path of the first system information program installed on PATH (hardinfo,
// kinfocenter, gnome-system-monitor, ...), or empty.
QString systemInformationProgram();

// Makes the registry answer HKEY_CLASSES_ROOT\http\shell\open\command (default value, REG_SZ:
// the browser's command line) and HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shared Tools\MSINFO
// ("PATH", REG_SZ) from the desktop, whenever no registry file holds those keys. Looked up anew
// at each open of the key. Call once at start-up, before the first registry read; calling again
// is harmless.
void installRegistryProviders();

} // namespace desktop
