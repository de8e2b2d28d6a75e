#pragma once

#include "platform/ui/ListBox.h"

#include <QString>
#include <QtGlobal>

// The list box procedures that fill and tidy the playlist. They keep no state; all they change is
// the content of the list handed to them. UI thread only.

// Appends the names that listing::listDirectory gives for `directory` + `pattern` (joined as they
// are; `directory` carries its own trailing '/', an empty one means the current directory) with
// the mask DDL_DIRECTORY | DDL_ARCHIVE: matching files by name, matching subdirectories as
// "[name]". The list is not cleared first; a missing directory appends nothing.
void AddDirectoryFiles(ListBox& list, const QString& directory, const QString& pattern);

// Cuts `extension` off every entry whose last characters equal it when both are converted to upper
// case; other entries stay as they are. The entry count is read once, before the pass.
void StripListExtension(ListBox& list, const QString& extension);

// Makes the entries unique, comparing whole entries without regard to case. Which copy of a group
// survives is exactly what the classic pass built on the list box's exact-string search leaves:
// for each index i up to the original last index, find the first match b after i, then the first
// match after b + 1, and remove it while it is another entry than b (e.g. A, B, A gives B, A).
// That result is worked out in O(n log n) and applied in one replacement; the selection ends
// where the classic removals one by one leave it: on the selected entry, moved up, or on nothing
// when that entry was removed (no click). A list that loses nothing is not touched. Lists of
// fewer than 3 entries are left as they are.
//
// Pending events are processed while the pass runs (at least every 50 ms, once at its start). If
// an event handler changes the list meanwhile, the pass is worked out once more, without
// processing events, on the list as the handler left it, and that result is applied and counted;
// if a handler destroys the list, nothing more is done and 0 is returned.
//
// Returns the count of removed entries, held at 32767 when more were removed (the 16-bit result
// cannot carry more; the list is made unique all the same).
qint16 RemoveDuplicateEntries(ListBox& list);
