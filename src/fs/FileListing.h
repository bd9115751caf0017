#pragma once

#include "fs/WildcardPattern.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace parcelon {

struct DirectoryEntry;

// The file names matching a pattern that a folder expansion read while it
// listed each folder, so that the files of a scanned tree are listed without
// reading each folder a second time. It lives for one command.
class ListingMemory {
public:
    explicit ListingMemory(const QString& pattern) : m_pattern(pattern), m_wildcard(pattern) {}

    // Keeps the matching names of the entries of `folder` that are no folders.
    void keep(const QString& folder, const std::vector<DirectoryEntry>& entries);
    // The names kept for `folder` under `pattern`, once; nothing when none were kept.
    std::optional<QStringList> take(const QString& folder, const QString& pattern);

private:
    QString m_pattern;
    WildcardPattern m_wildcard;
    QHash<QString, QStringList> m_names;
};

// The bare names of the files of a folder that match a wildcard pattern
// ("*.*", "*.pst"; see WildcardPattern), hidden ones included, in listing
// order; only names for which IsExistingFile holds, so never a folder. The
// folder may end in a separator or not. A missing folder gives no names; any
// other failure to read it is thrown as a Failure. Where `memory` holds the
// folder's names, they are taken from there instead of reading the folder.
QStringList ListFilesInFolder(const QString& folder, const QString& pattern, ListingMemory* memory = nullptr);

// True when the path names an existing regular file (after links), found
// without needing read permission. Never fails.
bool IsExistingFile(const QString& path);

} // namespace parcelon
