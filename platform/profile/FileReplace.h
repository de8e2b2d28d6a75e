#pragma once

// Whole-file reads and replacements of settings files. A replacement goes through a temporary file
// in the same folder (written, synced, renamed), so readers see the old content or the new, and
// every writer of the folder, threads and processes alike, takes its turn under a lock on the
// folder, so that none undoes another's change between its read and its rename.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace profile {

// Files larger than this are treated as unreadable: reads give nothing, replacements fail.
inline constexpr unsigned long long kMaxFileBytes = 64ull * 1024 * 1024;
// The longest a replacement waits for the lock on its folder: long enough for any other writer's
// whole read-modify-write, short enough that a process holding the lock for good costs a click a
// moment's wait rather than a frozen window.
inline constexpr std::chrono::seconds kLockWait{5};

// The content of a regular file; nullopt when it is missing, unreadable, not a regular file (a
// FIFO is refused, never waited on) or larger than kMaxFileBytes.
std::optional<std::string> readWhole(const char* path);

// Makes the new content from the old (empty for a missing file); nullopt: nothing to change.
using Edit = std::function<std::optional<std::string>(std::string_view old)>;

// Under the folder's lock, reads `fileName` and replaces it with what `edit` makes of it; a
// symbolic link is followed, so the file it names is replaced and the link stays. The new file
// keeps the old one's mode, and its owner and group as far as the user may set them. Returns
// true when the new content is in place or none was needed; false, the old file untouched, when
// the folder or file is missing or read-only, the disk is full, the path names a directory or
// another non-regular file, the file is over kMaxFileBytes, or the lock stays held elsewhere for
// longer than kLockWait. A file without any write bit is read-only for everyone, root included.
bool replaceWhole(const char* fileName, const Edit& edit);

} // namespace profile
