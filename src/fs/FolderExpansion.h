#pragma once

#include <QString>
#include <QStringList>

namespace parcelon {

class Desktop;
class ListingMemory;

// Expands a folder collection (paths each ending in the separator) in place
// by every folder below its entries, breadth first: all subfolders of the
// given folders, then all of theirs, and so on, in listing order under each
// parent. Protected folders (attributes exactly 22 or 1046, which links to
// folders read) found below are left out with everything beneath them, as
// are names that cannot be handled, paths beyond the platform's length
// limits, and folders reached a second time (a bind mount). A starting
// folder that is a link is expanded as the folder it names, under the path
// given. A folder that cannot be listed (failure 70 or 76) is removed
// silently; other failures show the error report of
// `GetSubDirectories2016` and the expansion goes on. Yields to the window
// system for every folder and subfolder it looks at; each folder's
// existence and attributes are read once in one expansion. Where `memory` is
// given, the file names of each folder listed are kept there.
void GetSubDirectories2016(QStringList& folders, bool recursive, Desktop& desktop, ListingMemory* memory = nullptr);

// True for a name holding a control character (below 32, or 127 to 159).
bool HasUnsupportedCharacters(const QString& name);

} // namespace parcelon
