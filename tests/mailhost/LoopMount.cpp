#include "LoopMount.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <optional>

#include <unistd.h>

namespace parcelon::test {

using namespace Qt::StringLiterals;

namespace {

QString findTool(const QString& name)
{
    const QString found = QStandardPaths::findExecutable(name);
    return found.isEmpty() ? QStandardPaths::findExecutable(name, {u"/usr/sbin"_s, u"/sbin"_s}) : found;
}

// Runs a tool; its output, or nothing with what went wrong in `why`.
std::optional<QString> run(const QString& tool, const QStringList& arguments, QString& why)
{
    const QString program = findTool(tool);
    if (program.isEmpty()) {
        why = u"%1 is not installed"_s.arg(tool);
        return std::nullopt;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        why = u"%1 %2 failed: %3"_s.arg(tool, arguments.join(u' '), QString::fromLocal8Bit(process.readAll()).trimmed());
        return std::nullopt;
    }
    return QString::fromLocal8Bit(process.readAll()).trimmed();
}

} // namespace

std::unique_ptr<LoopMount> LoopMount::make(Kind kind, QString& why)
{
    if (::geteuid() != 0) {
        why = u"mounting a file system needs root"_s;
        return nullptr;
    }
    std::unique_ptr<LoopMount> mount(new LoopMount);
    const QString image = mount->m_work.filePath(u"image"_s);
    const QString at = mount->path();
    if (!QDir().mkpath(at)) {
        why = u"cannot make %1"_s.arg(at);
        return nullptr;
    }
    if (kind == Kind::Tmpfs) {
        if (!run(u"mount"_s, {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=16m"_s, u"parcelon-test"_s, at}, why))
            return nullptr;
        mount->m_mounted = true;
        return mount;
    }
    QFile file(image);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(32 << 20)) {
        why = u"cannot make the image %1"_s.arg(image);
        return nullptr;
    }
    file.close();
    const bool made = kind == Kind::Ext4 ? run(u"mkfs.ext4"_s, {u"-q"_s, u"-F"_s, image}, why).has_value()
        : kind == Kind::ExFat            ? run(u"mkfs.exfat"_s, {image}, why).has_value()
                                         : run(u"mkntfs"_s, {u"-q"_s, u"-F"_s, u"-Q"_s, image}, why).has_value();
    if (!made)
        return nullptr;
    const auto device = run(u"losetup"_s, {u"-f"_s, u"--show"_s, image}, why);
    if (!device)
        return nullptr;
    mount->m_device = *device;
    const bool mounted = kind == Kind::Ext4 ? run(u"mount"_s, {u"-t"_s, u"ext4"_s, *device, at}, why).has_value()
        : kind == Kind::ExFat               ? run(u"mount.exfat-fuse"_s, {*device, at}, why).has_value()
                                            : run(u"ntfs-3g"_s, {*device, at}, why).has_value();
    if (!mounted)
        return nullptr;
    mount->m_mounted = true;
    return mount;
}

LoopMount::~LoopMount()
{
    QString why;
    if (m_mounted && !run(u"umount"_s, {path()}, why))
        run(u"umount"_s, {u"-l"_s, path()}, why);
    if (!m_device.isEmpty())
        run(u"losetup"_s, {u"-d"_s, m_device}, why);
}

} // namespace parcelon::test
