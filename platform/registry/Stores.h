#pragma once

// Where the registry keeps its keys, and the seams that tests use to swap it.
//
// The real store is two REGEDIT4 text files:
//   per-user     $XDG_DATA_HOME/quiva/registry.reg (default ~/.local/share/quiva/registry.reg)
//   system-wide  /etc/quiva/registry.reg
// QUIVA_REGISTRY, when it names a file by absolute path, takes the per-user file's place: a
// player run from its build tree keeps that build's registrations out of the user's own store,
// where they would shadow an installed package's.
// The home is $HOME, or with HOME unset the user's entry in the password database. A user with
// no home at all has no per-user file: reads see the system-wide file alone, and every open or
// write that would change the per-user file is refused with ERROR_ACCESS_DENIED (said once on
// stderr).
// Reads merge the two: a key exists when either file holds it; a value of the per-user file
// replaces the system-wide value of the same name in place, per-user-only values follow.
// Writes go to the per-user file. HKEY_LOCAL_MACHINE belongs to the machine: an ordinary caller
// may read it but any open asking for write rights is refused with ERROR_ACCESS_DENIED. Only in
// system-wide install mode (setSystemWideInstall, used by `quiva-regsvr --system` run as root)
// do writes to HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE go to the system-wide file;
// HKEY_CURRENT_USER always stays per-user.
//
// Every write takes an exclusive flock on "<file>.lock", re-reads the file, applies the change
// and replaces the file atomically (temporary file, fsync, rename), so concurrent writers in
// several processes never lose each other's changes.
//
// A damaged file (a line that does not parse) is read up to that line and reported once per
// process with one line on stderr. Writes to a damaged file are refused with ERROR_BADDB and
// the file is left exactly as it was: the registry never replaces a file with less than it held.
// Only a regular file of at most kMaxRegistryFileBytes is read; anything else at the path (a
// FIFO, a device, a larger file) or a file that cannot be read counts as damaged from its start.

#include "platform/registry/Registry.h"

#include <cstdint>
#include <memory>
#include <string>

namespace registry {

// Far above what any set of registrations needs, far below what would hurt to hold in memory.
inline constexpr std::uint64_t kMaxRegistryFileBytes = 16ull << 20;

inline constexpr const char* kPerUserStoreVariable = "QUIVA_REGISTRY";

struct FileStorePaths {
    std::string perUser; // empty: no per-user file
    std::string systemWide;
};

// The default paths, from the environment of this process.
FileStorePaths defaultFileStorePaths();

// Uses the two files (the default at start-up). Thread-safe; open handles stay valid.
void useFileStores(const FileStorePaths& paths);

// Routes HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE writes to the system-wide file. Returns false
// (and changes nothing) when this process may not write that file's folder.
bool setSystemWideInstall(bool on);

// Forgets every provided key (Providers.h), as a fresh process has none.
void clearProvidedKeys();

// ---- for tests only: defined in the library quiva-platform-testing, not in the installed one ----

// An empty store in memory, every root writable, nothing persisted. Values put in by the test
// itself (through the ordinary calls) are what the code under test reads.
void useInMemoryStore();

// Makes a root of the in-memory store read-only, as the machine's keys are for an ordinary user:
// opens asking for write rights then fail with ERROR_ACCESS_DENIED. No effect on file stores.
void setInMemoryRootWritable(HKEY root, bool writable);

// Installs an empty in-memory store for the life of the guard, then goes back to the file
// stores at their default paths. Forgets every provided key, too, on both ends.
class ScopedInMemoryStore {
public:
    ScopedInMemoryStore();
    ~ScopedInMemoryStore();
    ScopedInMemoryStore(const ScopedInMemoryStore&) = delete;
    ScopedInMemoryStore& operator=(const ScopedInMemoryStore&) = delete;
};

} // namespace registry
