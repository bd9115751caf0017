#include "extraction/FreeNames.h"

#include "fs/Paths.h"

#include <cerrno>

#ifdef Q_OS_LINUX
#include <sys/inotify.h>
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
                for (auto& [wd, watched] : m_watched)
                    watched.starts.clear();
                continue;
            }
            auto it = m_watched.find(event->wd);
            if (it != m_watched.end())
                it->second.starts.clear();
        }
    }
#endif
}

int FreeNames::watch(const QString& folder)
{
#ifdef Q_OS_LINUX
    if (auto it = m_folders.find(folder); it != m_folders.end())
        return it->second;
    if (m_folders.size() >= kMaxFolders) {
        for (const auto& [path, wd] : m_folders)
            ::inotify_rm_watch(m_inotify, wd);
        m_folders.clear();
        m_watched.clear();
        m_keys.clear();
    }
    const int wd = ::inotify_add_watch(m_inotify, nativePath(folder).constData(),
                                       IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
    if (wd >= 0) {
        m_folders.emplace(folder, wd);
        m_watched[wd];
    }
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
    if (wd < 0)
        return 1;
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
