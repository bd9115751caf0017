#include "mailhost/model/NewFile.h"

#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
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

} // namespace

NewFile::NewFile(QString target, QByteArray nativeTarget, int fd, QByteArray tempPath)
    : m_target(std::move(target)), m_nativeTarget(std::move(nativeTarget)), m_fd(fd), m_tempPath(std::move(tempPath))
{
}

NewFile::NewFile(NewFile&& other) noexcept
    : m_target(std::move(other.m_target)), m_nativeTarget(std::move(other.m_nativeTarget)), m_fd(other.m_fd),
      m_tempPath(std::move(other.m_tempPath))
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
    if (fd >= 0)
        return NewFile(target, native, fd, {});
    const int error = errno;
    if (error != EOPNOTSUPP && error != EISDIR && error != EINVAL)
        return NewFile(target, native, -1, {}).systemError(QStringLiteral("create"), error);

    // The file system has no unnamed files: write under a hidden name beside the target.
    QByteArray temp = folder + "/.parcelon-XXXXXX";
    fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return NewFile(target, native, -1, {}).systemError(QStringLiteral("create"), errno);
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
    return {};
}

Result<void> NewFile::commit()
{
    int result;
    if (m_tempPath.isEmpty()) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd);
        result = ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, m_nativeTarget.constData(), AT_SYMLINK_FOLLOW);
    } else {
        result = ::link(m_tempPath.constData(), m_nativeTarget.constData());
        if (result != 0 && (errno == EPERM || errno == EOPNOTSUPP)) {
            // No hard links here: rename, refusing to replace anything.
            result = ::renameat2(AT_FDCWD, m_tempPath.constData(), AT_FDCWD, m_nativeTarget.constData(), RENAME_NOREPLACE);
            if (result == 0)
                m_tempPath.clear();
            else if (errno == EINVAL) {
                // Nor an exclusive rename: reserve the name, then rename over the reservation.
                const int reserved = ::open(m_nativeTarget.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
                if (reserved < 0)
                    return systemError(QStringLiteral("create"), errno);
                ::close(reserved);
                result = ::rename(m_tempPath.constData(), m_nativeTarget.constData());
                if (result == 0) {
                    m_tempPath.clear();
                } else {
                    const int error = errno;
                    ::unlink(m_nativeTarget.constData());
                    errno = error;
                }
            }
        }
    }
    if (result != 0)
        return systemError(QStringLiteral("create"), errno);
    if (::close(m_fd) != 0) {
        m_fd = -1;
        const int error = errno;
        ::unlink(m_nativeTarget.constData());
        return systemError(QStringLiteral("write"), error);
    }
    m_fd = -1;
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
