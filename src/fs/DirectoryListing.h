#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <compare>
#include <optional>
#include <vector>

namespace parcelon {

// Where a folder lives on disk: the same pair means the same folder,
// whatever path or link led to it.
struct FolderIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    auto operator<=>(const FolderIdentity&) const = default;
};

// One entry of a folder, "." and ".." excepted.
struct DirectoryEntry {
    QString name;                           // decoded from UTF-8
    QByteArray bytes;                       // the name as the file system holds it
    bool directory = false;                 // after following links (only with EntryTypes::Read)
    bool link = false;                      // the entry itself is a symbolic link (only with EntryTypes::Read)
    std::optional<FolderIdentity> identity; // of the folder, when `directory` and not `link`
};

enum class EntryTypes { Skip, Read };

// The entries of a folder in listing order: names compared by upper-cased
// UTF-16 units, ties by exact units (the order an NTFS folder gives), so a
// listing is the same on every run. Throws a Failure (70 EACCES/EPERM, 76
// ENOENT/ENOTDIR, 75 otherwise) when the folder cannot be read. An entry
// whose type cannot be read (a link into a folder the user may not enter)
// counts as no folder. `self`, when given, receives where the folder lives.
std::vector<DirectoryEntry> listDirectory(const QString& folder, EntryTypes types, FolderIdentity* self = nullptr);

// The listing order of two names.
bool listsBefore(const QString& a, const QString& b);

} // namespace parcelon
