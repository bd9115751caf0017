#include "fs/FileAttributes.h"

#include "diagnostics/Failure.h"
#include "fs/Paths.h"

#include <QByteArrayView>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <mntent.h>
#include <sys/stat.h>

namespace parcelon {

using namespace Qt::StringLiterals;

namespace {

// File systems that hold no user files; their mount points are system folders.
constexpr std::array<QByteArrayView, 16> kPseudoFileSystems = {
    "proc",    "sysfs",  "devtmpfs", "devpts", "cgroup",    "cgroup2",  "securityfs", "debugfs",
    "tracefs", "pstore", "bpf",      "mqueue", "hugetlbfs", "configfs", "fusectl",    "autofs",
};

bool isPseudoFileSystem(const char* type)
{
    for (QByteArrayView pseudo : kPseudoFileSystems)
        if (pseudo == QByteArrayView(type))
            return true;
    return false;
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the folder (already stat'ed as `folder`) is where a pseudo file
// system is mounted: it lies on another device than its parent, and the
// mount table names a pseudo file system mounted on that very folder.
bool isPseudoMountPoint(const QByteArray& path, const struct stat& folder)
{
    struct stat parent;
    if (::stat((path + "/..").constData(), &parent) != 0 || parent.st_dev == folder.st_dev)
        return false;
    std::unique_ptr<FILE, int (*)(FILE*)> mounts(::setmntent("/proc/self/mounts", "r"), ::endmntent);
    if (!mounts)
        return false;
    struct mntent entry;
    std::array<char, 4096> buffer;
    while (::getmntent_r(mounts.get(), &entry, buffer.data(), int(buffer.size()))) {
        struct stat mounted;
        if (isPseudoFileSystem(entry.mnt_type) && ::stat(entry.mnt_dir, &mounted) == 0 && sameFile(mounted, folder))
            return true;
    }
    return false;
}

bool isHiddenName(const QString& path)
{
    const QString name = FileNameOfPath(path);
    return name.startsWith(u'.') && name != "."_L1 && name != ".."_L1;
}

// The name that decides "hidden": the target's for a link, the path's own
// otherwise (resolved when the path ends in "." or "..").
bool isHidden(const QString& path, bool link)
{
    const QString name = FileNameOfPath(path);
    if (!link && name != "."_L1 && name != ".."_L1)
        return isHiddenName(path);
    std::unique_ptr<char, void (*)(void*)> target(::realpath(nativePath(path).constData(), nullptr), std::free);
    return target ? isHiddenName(QString::fromUtf8(target.get())) : isHiddenName(path);
}

} // namespace

int FileAttributes(const QString& path, LinkView view)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(kSeparator))
        trimmed.chop(1);
    const QByteArray native = nativePath(trimmed);

    struct stat own;
    if (trimmed.isEmpty() || ::lstat(native.constData(), &own) != 0)
        throw Failure::fromErrno(trimmed.isEmpty() ? ENOENT : errno, u"Cannot read the attributes of"_s, path);
    const bool link = S_ISLNK(own.st_mode);
    const bool ownView = link && view == LinkView::Own;
    int attributes = ownView ? Attribute::ReparsePoint : 0;

    struct stat target = own;
    if (link && ::stat(native.constData(), &target) != 0) {
        if (ownView)
            return attributes; // a dangling link has nothing more to tell
        throw Failure::fromErrno(errno, u"Cannot read the attributes of"_s, path);
    }
    if (ownView && S_ISDIR(target.st_mode)) // a link to a folder is not followed
        return Attribute::ReparsePoint | Attribute::Directory | Attribute::System | Attribute::Hidden;
    if (S_ISDIR(target.st_mode)) {
        attributes |= Attribute::Directory;
        if (isPseudoMountPoint(native, target))
            attributes |= Attribute::System | Attribute::Hidden;
    } else if (S_ISREG(target.st_mode)) {
        attributes |= Attribute::Archive;
    }
    if (isHidden(trimmed, link))
        attributes |= Attribute::Hidden;
    return attributes;
}

bool IsRootFolder(const QString& path)
{
    return CollapseBackslashes(path) == QString(kSeparator);
}

} // namespace parcelon
