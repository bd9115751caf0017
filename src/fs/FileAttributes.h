#pragma once

#include <QString>

namespace parcelon {

// The attribute bits of a path, as whole numbers that add up.
namespace Attribute {
inline constexpr int Hidden = 2;        // the name begins with "."
inline constexpr int System = 4;        // the mount point of a pseudo file system
inline constexpr int Directory = 16;
inline constexpr int Archive = 32;      // every regular file
inline constexpr int ReparsePoint = 1024; // the path itself is a symbolic link
}

// The attributes of a path: ReparsePoint from the path itself, the others
// from what it leads to. A mount point of a pseudo file system (proc, sysfs,
// ...) is also hidden, so it reads 22 (1046 through a link). Trailing
// separators are ignored. Throws a Failure when the path cannot be examined.
int FileAttributes(const QString& path);

// True only for the root folder.
bool IsRootFolder(const QString& path);

} // namespace parcelon
