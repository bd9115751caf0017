#pragma once

#include <QString>
#include <QStringList>

namespace parcelon {

// The bare names of the files of a folder that match a wildcard pattern
// ("*.*", "*.pst"; see WildcardPattern), hidden ones included, in listing
// order; only names for which IsExistingFile holds, so never a folder. The
// folder may end in a separator or not. A missing folder gives no names; any
// other failure to read it is thrown as a Failure.
QStringList ListFilesInFolder(const QString& folder, const QString& pattern);

// True when the path names an existing regular file (after links), found
// without needing read permission. Never fails.
bool IsExistingFile(const QString& path);

} // namespace parcelon
