#pragma once

// Private profile (INI) files: "[section]" headers followed by "key=value" lines. The calls keep
// the shapes of the classic private profile API so that callers written against it read the same.
//
// Reading rules: sections and keys are matched without regard to case; blanks around section
// names, keys and values are ignored; a value wrapped in matching quotes (' or ") is returned
// without them; lines starting with ';' are comments; LF and CRLF line ends are both accepted; a
// leading UTF-8 byte order mark is skipped. Lines before the first section and lines without '='
// belong to no key. Texts are UTF-8 throughout.
//
// Thread rule: both calls may be used from any thread; they keep no state between calls. Writers
// in one folder, threads and processes alike, take turns: each reads, changes and replaces the
// file under a lock on its folder, so that no writer undoes another's key.

#include "platform/BasicTypes.h"

// Copies the value of `key` in `section` of `fileName` into `buffer` (`size` bytes), or
// `defaultValue` (null: the empty text) when the file, the section or the key is missing or the
// file cannot be read. At most size - 1 bytes are copied, cut back so that no UTF-8 sequence is
// split, and the buffer is always zero-terminated. Returns the count of bytes copied, without the
// terminating zero. A null buffer or a size of 0 copies nothing and returns 0. A null section,
// key or file name reads the default. Never fails otherwise.
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* buffer, DWORD size, const char* fileName);

// Sets `key` in `section` of `fileName` to `value`: the first line holding the key has its value
// replaced in place (its key spelling, indentation and line end are kept); otherwise a
// "key=value" line is appended to the first matching section, and a missing section is appended
// to the end of the file; a missing file is created. A null value removes the key's first line.
// Every other line of the file stays byte for byte as it was. Symbolic links are followed: the
// file they name is replaced and the link stays.
//
// The file is replaced whole through a temporary file in the same directory (written, synced and
// renamed), so readers see either the old or the new content; the new file keeps the old one's
// mode, and its owner and group as far as the user may set them. A file without any write
// permission bit is read-only for every user, root included, as is a file the user may not write.
// Returns true when the new content is in place; false, with the old file untouched, when it
// cannot be written (missing or read-only directory or file, full disk, a path naming a directory
// or another non-regular file, a file over profile::kMaxFileBytes, the folder's lock held elsewhere
// for longer than profile::kLockWait) and when the request could not be stored faithfully: a null
// section, key or file name, a value or key holding a line break, a key that is empty or holds
// '=' or starts with ';' or '[', a section holding ']' or a line break.
bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName);
