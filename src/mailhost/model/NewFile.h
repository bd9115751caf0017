#pragma once

#include "mailhost/pst/bytes/Error.h"
#include "mailhost/pst/bytes/SpanReader.h"

#include <QString>

namespace parcelon::mailhost {

// A file written under a temporary identity and put in place under its
// name only when complete. It never replaces a file: when the name is
// taken by then, commit() fails with Exists. A file that is not committed
// leaves nothing behind.
class NewFile {
public:
    static pst::Result<NewFile> create(const QString& target);

    NewFile(NewFile&& other) noexcept;
    NewFile& operator=(NewFile&&) = delete;
    ~NewFile();

    // Appends bytes, or writes them at `offset` (bytes written before
    // further on are kept; writing past the end leaves a zero-filled gap).
    pst::Result<void> write(pst::Bytes bytes);
    pst::Result<void> writeAt(std::uint64_t offset, pst::Bytes bytes);
    pst::Result<void> commit();

private:
    NewFile(QString target, QByteArray nativeTarget, int fd, QByteArray tempPath);
    pst::Error systemError(const QString& operation, int error) const;
    void discard();

    QString m_target;
    QByteArray m_nativeTarget;
    int m_fd = -1;
    QByteArray m_tempPath; // empty when the file has no name yet (O_TMPFILE)
};

} // namespace parcelon::mailhost
