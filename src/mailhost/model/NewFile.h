#pragma once

#include "mailhost/pst/bytes/Error.h"
#include "mailhost/pst/bytes/SpanReader.h"

#include <QString>

namespace parcelon::mailhost {

// A file written under a temporary identity and put in place under its
// name only when complete. It never replaces a file: when the name is
// taken by then, commit() fails with Exists. A file that is not committed
// leaves nothing behind, and a killed process leaves no file under the
// name that lacks any of its bytes.
//
// Where the file system has no unnamed files, the file is written under a
// hidden name beside the target (".parcelon-XXXXXX"), locked while it is
// open. Such files left by a process that died are removed by the first
// save into their folder in a later process, once they are unlocked and
// more than a minute old.
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

    // Called with the name of each step of a save that leaves something on
    // disk, so that a test can stop a save at every one of them.
    using StepHook = void (*)(const char* step);
    static void setStepHook(StepHook hook);

private:
    NewFile(QString target, QByteArray nativeTarget, int fd, QByteArray tempPath);
    pst::Error systemError(const QString& operation, int error) const;
    pst::Result<void> publish();
    void discard();

    QString m_target;
    QByteArray m_nativeTarget;
    int m_fd = -1;
    QByteArray m_tempPath; // empty when the file has no name yet (O_TMPFILE)
};

} // namespace parcelon::mailhost
