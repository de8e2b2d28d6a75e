#pragma once

// The directory listing behind a list box's LB_DIR message: the names of one directory's entries
// that match a wildcard pattern, ready to be appended to a list.

#include <QByteArrayView>
#include <QString>
#include <QStringList>

// Attribute mask bits understood by listDirectory; regular files are always listed.
inline constexpr unsigned DDL_DIRECTORY = 0x0010; // also list subdirectories, as "[name]"
inline constexpr unsigned DDL_ARCHIVE = 0x0020;   // files with the archive attribute (all here)

namespace listing {

// Lists the directory named by `directoryAndPattern`: everything up to and including its last '/'
// is the directory (relative paths start at the current directory; no '/' at all means the
// current directory), the rest is the wildcard pattern that names must match (matchesWildcard).
// Returns the matching regular files by name, and with DDL_DIRECTORY in `attributes` the matching
// subdirectories as "[name]", all in one natural order of their names (compareNatural).
// Names are given as fileNameText shows them; a name that is not UTF-8 is left out when its
// text is, in UTF-8, the name of another entry, which that text would stand for. Symbolic links
// count as what they point to; dangling links, other file types and hidden names (starting with
// '.', so "." and ".." too) are left out.
// Attribute bits other than DDL_DIRECTORY change nothing.
// Errors: a missing or unreadable directory gives an empty list; nothing is reported.
// Thread rule: any thread; no state is kept. Cost: no per-entry stat except for symbolic links
// and names that are not UTF-8, and on file systems that do not report entry types.
QStringList listDirectory(const QString& directoryAndPattern, unsigned attributes);

// The text a file name is shown as: its UTF-8 text, or, when its bytes are not valid UTF-8 (a
// name copied from an older system), each byte as the Latin-1 character of the same value, so
// that every file can be listed and its name found again by the text shown. Any thread.
QString fileNameText(QByteArrayView bytes);

// Whether `name` matches `pattern` as a whole, without regard to case: '*' stands for any run of
// characters (also none), '?' for exactly one character (one code point); everything else stands
// for itself. An empty pattern matches only the empty name. Any thread.
bool matchesWildcard(const QString& pattern, const QString& name);

// Natural order without regard to case: runs of the digits 0-9 compare by their numeric value
// ("Track 2" before "Track 10", leading zeros aside), everything else by case-folded code point.
// Names that tie are ordered by fewer leading zeros, then by their exact code points, so the
// order is total and the same on every machine. Returns <0, 0 (equal texts only) or >0.
int compareNatural(const QString& a, const QString& b);

} // namespace listing
