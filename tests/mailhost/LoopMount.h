#pragma once

#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace parcelon::test {

// A new, empty file system mounted for one test: an image file on a loop
// device (ext4; exFAT through FUSE; NTFS through ntfs-3g) or a tmpfs.
// Only root can make one; unmounted again when destroyed.
class LoopMount {
public:
    enum class Kind { Ext4, Tmpfs, ExFat, Ntfs };

    // The mounted file system, or nothing with the reason in `why`.
    static std::unique_ptr<LoopMount> make(Kind kind, QString& why);
    ~LoopMount();

    QString path() const { return m_work.filePath(QStringLiteral("mnt")); }

private:
    LoopMount() = default;

    QTemporaryDir m_work;
    QString m_device;
    bool m_mounted = false;
};

} // namespace parcelon::test
