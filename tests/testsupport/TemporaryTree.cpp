#include "testsupport/TemporaryTree.h"

#include "testsupport/TestPaths.h"

#include <QDir>

#include <gtest/gtest.h>

#include <cstdio>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace parcelon::test {

TemporaryTree::TemporaryTree()
{
    EXPECT_TRUE(m_dir.isValid());
    m_dir.setAutoRemove(false);
    setMode({}, 0755);
}

TemporaryTree::~TemporaryTree()
{
    // Byte for byte, so that names which are not UTF-8 go too.
    const auto removeEntry = [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); };
    EXPECT_EQ(::nftw(m_dir.path().toUtf8().constData(), removeEntry, 16, FTW_DEPTH | FTW_PHYS), 0);
}

QString TemporaryTree::path(const QString& relative) const
{
    return relative.isEmpty() ? m_dir.path() : m_dir.path() + u'/' + relative;
}

QString TemporaryTree::folder(const QString& relative)
{
    EXPECT_TRUE(QDir().mkpath(path(relative))) << relative.toStdString();
    return path(relative) + u'/';
}

void TemporaryTree::file(const QString& relative)
{
    writeFile(path(relative), {});
}

void TemporaryTree::link(const QString& relative, const QString& target)
{
    EXPECT_EQ(::symlink(target.toUtf8().constData(), path(relative).toUtf8().constData()), 0) << relative.toStdString();
}

void TemporaryTree::rawFolder(const QString& parent, const QByteArray& name)
{
    EXPECT_EQ(::mkdir((path(parent).toUtf8() + '/' + name).constData(), 0755), 0);
}

void TemporaryTree::rawFile(const QString& parent, const QByteArray& name)
{
    const int fd = ::open((path(parent).toUtf8() + '/' + name).constData(), O_CREAT | O_EXCL | O_WRONLY, 0644);
    EXPECT_GE(fd, 0);
    if (fd >= 0)
        ::close(fd);
}

void TemporaryTree::setMode(const QString& relative, unsigned mode)
{
    EXPECT_EQ(::chmod(path(relative).toUtf8().constData(), mode), 0) << relative.toStdString();
}

} // namespace parcelon::test
