#pragma once

// RegAPI: opens a web address in the browser that the registry names as the open command for
// web addresses. UI thread only.

#include "platform/registry/Registry.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <variant>

// One registry value as listed by EnumRegValues: text for REG_SZ, a signed 32-bit number for
// REG_DWORD, the raw bytes for any other type.
struct RegValueEntry {
    QString name; // empty for the key's default value
    DWORD type = REG_NONE;
    std::variant<QString, qint32, QByteArray> data;
};

// The text that GetBrowserPath returns when no browser is registered.
inline const QString kInvalidBrowser = QStringLiteral("Invalid");

// Every value of `root`\`subKey` (the root itself for an empty path) in enumeration order, up to
// the first one whose name (260 characters) or data (4096 bytes) does not fit. A missing key or
// one that cannot be opened gives an empty list.
QList<RegValueEntry> EnumRegValues(HKEY root, const QString& subKey);

// The browser's program path, with its surrounding double quotes, from the first value of
// HKEY_CLASSES_ROOT\http\shell\open\command: the command line up to and including the first
// double quote after its first character. "Invalid" when there is none.
QString GetBrowserPath();

// Starts the registered browser with `address` as its one argument, or tells the user that no
// browser is registered. A browser that cannot be started is reported in a message box, too.
void OpenURL(const QString& address);
