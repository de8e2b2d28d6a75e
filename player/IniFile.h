#pragma once

#include <QString>

// The player's settings file: a private profile file (platform/profile/PrivateProfile.h).
// UI thread only (the test seam below is not guarded).

// Stores `value` under `key` (converted to upper case) in `section` of `fileName`. A failed write
// is not reported: the value is simply not remembered.
void WriteIniValue(const QString& section, const QString& key, const QString& value,
                   const QString& fileName);

// The value of `key` (converted to lower case) in `section` of `fileName`; the empty text when the
// file, the section or the key is missing. At most 749 bytes of UTF-8 are read, never a partial
// character.
QString ReadIniValue(const QString& section, const QString& key, const QString& fileName);

// Where the settings live, built afresh on every call: "quiva.ini" beside the executable when
// that directory is writable, otherwise $XDG_CONFIG_HOME/quiva/quiva.ini (~/.config when the
// variable is unset or not absolute), whose folder is created here when missing.
QString settingsFileName();

// Test seam: makes settingsFileName() return `directory` + "/quiva.ini"; an empty text restores
// the rule above.
void setSettingsDirForTests(const QString& directory);
