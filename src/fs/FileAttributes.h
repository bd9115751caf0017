#pragma once

#include <QString>

namespace parcelon {

// The attribute bits of a path, as whole numbers that add up.
namespace Attribute {
inline constexpr int Hidden = 2; // the name begins with "."
inline constexpr int System = 4; // the mount point of a pseudo file system
inline constexpr int Directory = 16;
inline constexpr int Archive = 32;        // every regular file
inline constexpr int ReparsePoint = 1024; // the path itself is a symbolic link
} // namespace Attribute

// How a path that is a symbolic link is looked at.
enum class LinkView {
    Own,     // as the link it is
    Through, // as what it names (a folder the user chose through a link)
};

// The attributes of a path. Seen as its own, a link reads ReparsePoint and a
// link to a folder reads 1046, a protected folder, since links to folders
// are not followed; a link to anything else adds the attributes of what it
// leads to. A mount point of a pseudo file system (proc, sysfs, ...) is also
// hidden, so it reads 22. Hidden for a link follows the name of what it
// leads to. Trailing separators are ignored. Throws a Failure when the path
// cannot be examined.
int FileAttributes(const QString& path, LinkView view = LinkView::Own);

// True only for the root folder.
bool IsRootFolder(const QString& path);

} // namespace parcelon
