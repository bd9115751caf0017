#include "fs/DirectoryListing.h"

#include "diagnostics/Failure.h"
#include "fs/Paths.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace parcelon {

using namespace Qt::StringLiterals;

namespace {

using DirectoryHandle = std::unique_ptr<DIR, int (*)(DIR*)>;

[[noreturn]] void failListing(int error, const QString& folder)
{
    throw Failure::fromErrno(error, u"Cannot list"_s, folder);
}

DirectoryHandle openDirectory(const QString& folder)
{
    DirectoryHandle handle(::opendir(nativePath(folder).constData()), ::closedir);
    if (!handle)
        failListing(errno, folder);
    return handle;
}

// Reads whether the entry is a link and whether it leads to a folder.
// An entry that vanished, whose link leads nowhere, or that cannot be
// looked at is simply no folder.
void readType(DIR* dir, const dirent& raw, DirectoryEntry& entry)
{
    struct stat st;
#ifdef _DIRENT_HAVE_D_TYPE
    entry.link = raw.d_type == DT_LNK;
#else
    Q_UNUSED(raw);
#endif
    if (!entry.link) {
        if (::fstatat(::dirfd(dir), entry.bytes.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return;
        entry.link = S_ISLNK(st.st_mode);
        if (!entry.link) {
            entry.directory = S_ISDIR(st.st_mode);
            if (entry.directory)
                entry.identity = FolderIdentity{st.st_dev, st.st_ino};
            return;
        }
    }
    entry.directory = ::fstatat(::dirfd(dir), entry.bytes.constData(), &st, 0) == 0 && S_ISDIR(st.st_mode);
}

// Only folders, links and entries of unknown type need a closer look.
bool mayBeFolder(const dirent& raw)
{
#ifdef _DIRENT_HAVE_D_TYPE
    return raw.d_type == DT_DIR || raw.d_type == DT_LNK || raw.d_type == DT_UNKNOWN;
#else
    Q_UNUSED(raw);
    return true;
#endif
}

} // namespace

bool listsBefore(const QString& a, const QString& b)
{
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const char16_t ua = a.at(i).toUpper().unicode();
        const char16_t ub = b.at(i).toUpper().unicode();
        if (ua != ub)
            return ua < ub;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

std::vector<DirectoryEntry> listDirectory(const QString& folder, EntryTypes types, FolderIdentity* self)
{
    DirectoryHandle dir = openDirectory(folder);
    if (self) {
        struct stat st;
        if (::fstat(::dirfd(dir.get()), &st) != 0)
            failListing(errno, folder);
        *self = FolderIdentity{st.st_dev, st.st_ino};
    }
    std::vector<DirectoryEntry> entries;
    for (;;) {
        errno = 0;
        const dirent* raw = ::readdir(dir.get());
        if (!raw) {
            if (errno != 0)
                failListing(errno, folder);
            break;
        }
        const QByteArray bytes(raw->d_name);
        if (bytes == "." || bytes == "..")
            continue;
        DirectoryEntry entry;
        entry.name = QString::fromUtf8(bytes);
        entry.bytes = bytes;
        if (types == EntryTypes::Read && mayBeFolder(*raw))
            readType(dir.get(), *raw, entry);
        entries.push_back(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(), [](const DirectoryEntry& a, const DirectoryEntry& b) {
        if (listsBefore(a.name, b.name))
            return true;
        if (listsBefore(b.name, a.name))
            return false;
        return a.bytes < b.bytes; // names that decode alike
    });
    return entries;
}

} // namespace parcelon
