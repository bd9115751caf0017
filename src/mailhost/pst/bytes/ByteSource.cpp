#include "mailhost/pst/bytes/ByteSource.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace parcelon::pst {

namespace {

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

Error pastEnd(const QString& name, std::uint64_t offset, std::size_t count, std::uint64_t size)
{
    return corrupt(Where{name, {}},
                   QStringLiteral("%1 bytes at offset %2 lie beyond the end of the file (%3 bytes)")
                       .arg(count)
                       .arg(hex(offset))
                       .arg(size));
}

} // namespace

Result<std::unique_ptr<FileSource>> FileSource::open(const QString& path)
{
    const QByteArray native = path.toUtf8();
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return Error(ErrorKind::Io, QStringLiteral("cannot open %1: %2").arg(path, systemText(error)), error);
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return Error(ErrorKind::Io, QStringLiteral("cannot read %1: %2").arg(path, systemText(error)), error);
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        return Error(ErrorKind::NotPst, QStringLiteral("%1 is a folder, not a PST file").arg(path));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return Error(ErrorKind::NotPst, QStringLiteral("%1 is not a regular file").arg(path));
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::unique_ptr<FileSource>(new FileSource(path, fd, static_cast<std::uint64_t>(st.st_size), st.st_mtim));
}

FileSource::FileSource(QString path, int fd, std::uint64_t size, const timespec& modified)
    : m_path(std::move(path)), m_fd(fd), m_size(size), m_modified(modified)
{
}

FileSource::~FileSource()
{
    ::close(m_fd);
}

std::unique_ptr<ByteSource> FileSource::duplicate() const
{
    // The same open file, not the file now at that path.
    const int fd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<FileSource>(new FileSource(m_path, fd, m_size, m_modified));
}

Result<void> FileSource::unchanged() const
{
    struct stat st;
    if (::fstat(m_fd, &st) != 0) {
        const int error = errno;
        return Error(ErrorKind::Io, QStringLiteral("cannot read %1: %2").arg(m_path, systemText(error)), error);
    }
    if (static_cast<std::uint64_t>(st.st_size) != m_size || st.st_mtim.tv_sec != m_modified.tv_sec
        || st.st_mtim.tv_nsec != m_modified.tv_nsec)
        return Error(ErrorKind::Io, QStringLiteral("%1 changed while it was read").arg(m_path));
    return {};
}

Result<void> FileSource::read(std::uint64_t offset, std::span<std::uint8_t> buffer) const
{
    if (offset > m_size || buffer.size() > m_size - offset)
        return pastEnd(m_path, offset, buffer.size(), m_size);
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t n = ::pread(m_fd, buffer.data() + done, buffer.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            return Error(ErrorKind::Io, Where{m_path, {}},
                         QStringLiteral("cannot read at offset %1: %2").arg(hex(offset + done), systemText(error)), error);
        }
        if (n == 0)
            return pastEnd(m_path, offset, buffer.size(), m_size);
        done += static_cast<std::size_t>(n);
    }
    return {};
}

MemorySource::MemorySource(std::vector<std::uint8_t> bytes, QString name)
    : m_bytes(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes))), m_name(std::move(name))
{
}

MemorySource::MemorySource(std::shared_ptr<const std::vector<std::uint8_t>> bytes, QString name)
    : m_bytes(std::move(bytes)), m_name(std::move(name))
{
}

std::unique_ptr<ByteSource> MemorySource::duplicate() const
{
    return std::unique_ptr<MemorySource>(new MemorySource(m_bytes, m_name));
}

Result<void> MemorySource::read(std::uint64_t offset, std::span<std::uint8_t> buffer) const
{
    if (offset > m_bytes->size() || buffer.size() > m_bytes->size() - offset)
        return pastEnd(m_name, offset, buffer.size(), m_bytes->size());
    std::memcpy(buffer.data(), m_bytes->data() + offset, buffer.size());
    return {};
}

} // namespace parcelon::pst
