#include "extraction/FreeNames.h"

#include "fs/Paths.h"

#include <cerrno>

#ifdef Q_OS_LINUX
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#endif

namespace parcelon {

namespace {

// Folders watched at a time, and numbered names remembered per folder.
constexpr std::size_t kMaxFolders = 64;
constexpr std::size_t kMaxNamesPerFolder = 4096;

QString keyOf(const QString& base, const QString& extension)
{
    return base + u'\n' + extension;
}

#ifdef Q_OS_LINUX
// Local file systems where inotify is told of every change. Elsewhere (NFS,
// SMB, FUSE, 9p, virtiofs, overlay) a change may reach the disk unseen.
bool seesEveryChange(const struct statfs& fileSystem)
{
    switch (static_cast<unsigned long>(fileSystem.f_type)) {
    case 0xEF53UL:     // ext2, ext3, ext4
    case 0x58465342UL: // xfs
    case 0x9123683EUL: // btrfs
    case 0xF2F52010UL: // f2fs
    case 0x01021994UL: // tmpfs
        return true;
    default:
        return false;
    }
}
#endif

} // namespace

FreeNames& FreeNames::instance()
{
    static FreeNames names;
    return names;
}

FreeNames::FreeNames()
{
#ifdef Q_OS_LINUX
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
#endif
}

FreeNames::~FreeNames()
{
#ifdef Q_OS_LINUX
    if (m_inotify >= 0)
        ::close(m_inotify);
#endif
}

void FreeNames::readChanges()
{
#ifdef Q_OS_LINUX
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        const ssize_t n = ::read(m_inotify, buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (ssize_t offset = 0; offset < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                // Changes were lost: nothing known can be trusted.
                while (!m_watched.empty())
                    forget(m_watched.begin()->first);
            } else if (event->mask & (IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT)) {
                forget(event->wd);
            }
        }
    }
#endif
}

// Drops the watch and all it knew; the folder is watched afresh at its next use.
void FreeNames::forget(int wd)
{
#ifdef Q_OS_LINUX
    if (m_watched.erase(wd) == 0)
        return;
    ::inotify_rm_watch(m_inotify, wd); // fails harmlessly when the watch is gone already
    std::erase_if(m_folders, [wd](const auto& entry) { return entry.second == wd; });
    std::erase_if(m_keys, [wd](const auto& entry) { return entry.second == wd; });
#else
    Q_UNUSED(wd);
#endif
}

// The watch of the folder, or -1 where the memory may not be used.
int FreeNames::watch(const QString& folder)
{
#ifdef Q_OS_LINUX
    const QByteArray native = nativePath(folder);
    struct stat now;
    struct statfs fileSystem;
    if (::stat(native.constData(), &now) != 0 || !S_ISDIR(now.st_mode) || ::statfs(native.constData(), &fileSystem) != 0
        || !seesEveryChange(fileSystem))
        return -1;
    if (auto it = m_folders.find(folder); it != m_folders.end()) {
        const Watched& watched = m_watched.at(it->second);
        if (watched.device == now.st_dev && watched.inode == now.st_ino)
            return it->second;
        forget(it->second); // the path names another folder now
    }
    if (m_folders.size() >= kMaxFolders)
        while (!m_watched.empty())
            forget(m_watched.begin()->first);
    const int wd = ::inotify_add_watch(m_inotify, native.constData(),
                                       IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
    if (wd < 0)
        return -1;
    m_folders[folder] = wd;
    auto [watched, added] = m_watched.try_emplace(wd);
    if (added || watched->second.device != now.st_dev || watched->second.inode != now.st_ino)
        watched->second = Watched{now.st_dev, now.st_ino, {}};
    return wd;
#else
    Q_UNUSED(folder);
    return -1;
#endif
}

std::int64_t FreeNames::start(const QString& base, const QString& extension, const QString& folder)
{
    if (m_inotify < 0)
        return 1;
    readChanges();
    const QString key = keyOf(base, extension);
    const int wd = watch(folder);
    if (wd < 0) {
        m_keys.erase(key); // nothing learnt now may be recorded
        return 1;
    }
    m_keys[key] = wd;
    const auto& starts = m_watched[wd].starts;
    const auto it = starts.find(key);
    return it == starts.end() ? 1 : it->second;
}

void FreeNames::record(const QString& base, const QString& extension, std::int64_t counter)
{
    const QString key = keyOf(base, extension);
    const auto wd = m_keys.find(key);
    if (wd == m_keys.end())
        return;
    auto watched = m_watched.find(wd->second);
    if (watched == m_watched.end())
        return;
    if (watched->second.starts.size() >= kMaxNamesPerFolder)
        watched->second.starts.clear();
    watched->second.starts[key] = counter;
}

} // namespace parcelon
