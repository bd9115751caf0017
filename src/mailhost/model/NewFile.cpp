#include "mailhost/model/NewFile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace parcelon::mailhost {

using pst::Error;
using pst::ErrorKind;
using pst::Result;

namespace {

QByteArray folderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    if (slash == 0)
        return QByteArrayLiteral("/");
    return path.left(slash);
}

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

constexpr char kTemporaryPrefix[] = ".parcelon-";
constexpr std::size_t kTemporaryNameSize = sizeof kTemporaryPrefix - 1 + 6;
// A temporary file younger than this may belong to a save that has not
// locked it yet.
constexpr std::time_t kStaleSeconds = 60;

std::atomic<NewFile::StepHook> stepHook{nullptr};

void step(const char* name)
{
    if (const auto hook = stepHook.load(std::memory_order_relaxed))
        hook(name);
}

bool isTemporaryName(const char* name)
{
    if (std::strlen(name) != kTemporaryNameSize || std::strncmp(name, kTemporaryPrefix, sizeof kTemporaryPrefix - 1) != 0)
        return false;
    for (const char* c = name + sizeof kTemporaryPrefix - 1; *c; ++c)
        if (!((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z')))
            return false;
    return true;
}

// Removes from `folder` the temporary files that no process holds: those
// that can be locked and were last written over a minute ago. A folder is
// looked at once in a process.
void removeStaleFiles(const QByteArray& folder)
{
    static std::mutex mutex;
    static std::set<QByteArray> looked;
    {
        const std::lock_guard lock(mutex);
        if (!looked.insert(folder).second)
            return;
    }
    const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return;
    DIR* listing = ::fdopendir(folderFd);
    if (!listing) {
        ::close(folderFd);
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(listing))
        if (isTemporaryName(entry->d_name))
            names.emplace_back(entry->d_name);
    const std::time_t now = std::time(nullptr);
    for (const std::string& name : names) {
        const int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat held, named;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 && S_ISREG(held.st_mode)
            && held.st_mtime < now - kStaleSeconds && ::fstatat(folderFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0
            && named.st_dev == held.st_dev && named.st_ino == held.st_ino)
            ::unlinkat(folderFd, name.c_str(), 0);
        ::close(fd);
    }
    ::closedir(listing);
}

} // namespace

void NewFile::setStepHook(StepHook hook)
{
    stepHook.store(hook, std::memory_order_relaxed);
}

NewFile::NewFile(QString target, QByteArray nativeTarget, int fd, QByteArray tempPath)
    : m_target(std::move(target)), m_nativeTarget(std::move(nativeTarget)), m_fd(fd), m_tempPath(std::move(tempPath))
{
}

NewFile::NewFile(NewFile&& other) noexcept
    : m_target(std::move(other.m_target))
    , m_nativeTarget(std::move(other.m_nativeTarget))
    , m_fd(other.m_fd)
    , m_tempPath(std::move(other.m_tempPath))
{
    other.m_fd = -1;
    other.m_tempPath.clear();
}

NewFile::~NewFile()
{
    discard();
}

Error NewFile::systemError(const QString& operation, int error) const
{
    return Error(error == EEXIST ? ErrorKind::Exists : ErrorKind::Io,
                 QStringLiteral("cannot %1 %2: %3").arg(operation, m_target, systemText(error)), error);
}

Result<NewFile> NewFile::create(const QString& target)
{
    const QByteArray native = target.toUtf8();
    if (target.isEmpty() || native.contains('\0'))
        return Error(ErrorKind::BadName, QStringLiteral("cannot save to the path \"%1\"").arg(target));
    const QByteArray folder = folderOf(native);
    int fd = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
        step("created");
        return NewFile(target, native, fd, {});
    }
    const int error = errno;
    if (error != EOPNOTSUPP && error != EISDIR && error != EINVAL)
        return NewFile(target, native, -1, {}).systemError(QStringLiteral("create"), error);

    // The file system has no unnamed files: write under a hidden name beside
    // the target, locked at once so that no other process takes it for one
    // left by a dead process. Where nothing can be locked, such files are
    // never removed.
    removeStaleFiles(folder);
    QByteArray temp = folder + '/' + kTemporaryPrefix + "XXXXXX";
    fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return NewFile(target, native, -1, {}).systemError(QStringLiteral("create"), errno);
    step("created");
    ::flock(fd, LOCK_EX | LOCK_NB);
    step("locked");
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    return NewFile(target, native, fd, temp);
}

Result<void> NewFile::write(pst::Bytes bytes)
{
    const std::uint8_t* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, data, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return systemError(QStringLiteral("write"), errno);
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    step("wrote");
    return {};
}

Result<void> NewFile::writeAt(std::uint64_t offset, pst::Bytes bytes)
{
    const std::uint8_t* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::pwrite(m_fd, data, left, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return systemError(QStringLiteral("write"), errno);
        }
        data += n;
        offset += static_cast<std::uint64_t>(n);
        left -= static_cast<std::size_t>(n);
    }
    step("wrote");
    return {};
}

Result<void> NewFile::publish()
{
    if (m_tempPath.isEmpty()) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd);
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, m_nativeTarget.constData(), AT_SYMLINK_FOLLOW) != 0)
            return systemError(QStringLiteral("create"), errno);
        return {};
    }
    if (::link(m_tempPath.constData(), m_nativeTarget.constData()) == 0)
        return {}; // the hidden name goes when the file is closed
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
        return systemError(QStringLiteral("create"), errno);
    // No hard links here: rename, refusing to replace anything.
    if (::renameat2(AT_FDCWD, m_tempPath.constData(), AT_FDCWD, m_nativeTarget.constData(), RENAME_NOREPLACE) == 0) {
        m_tempPath.clear();
        return {};
    }
    if (errno != EINVAL)
        return systemError(QStringLiteral("create"), errno);
    // Nor an exclusive rename: rename over the name right after finding it
    // free. A file another program makes under that name in between is
    // replaced; an empty file reserving the name would outlive a crash.
    struct stat existing;
    if (::lstat(m_nativeTarget.constData(), &existing) == 0)
        return systemError(QStringLiteral("create"), EEXIST);
    if (errno != ENOENT)
        return systemError(QStringLiteral("create"), errno);
    step("checked");
    if (::rename(m_tempPath.constData(), m_nativeTarget.constData()) != 0)
        return systemError(QStringLiteral("create"), errno);
    m_tempPath.clear();
    return {};
}

Result<void> NewFile::commit()
{
    if (auto r = publish(); !r)
        return r;
    step("published");
    if (::close(m_fd) != 0) {
        m_fd = -1;
        const int error = errno;
        ::unlink(m_nativeTarget.constData());
        return systemError(QStringLiteral("write"), error);
    }
    m_fd = -1;
    step("closed");
    discard();
    return {};
}

void NewFile::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_tempPath.isEmpty()) {
        ::unlink(m_tempPath.constData());
        m_tempPath.clear();
    }
}

} // namespace parcelon::mailhost
