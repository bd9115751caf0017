#include "fs/Paths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace parcelon;

TEST(CollapseBackslashes, PairsBecomeOneInASinglePass)
{
    EXPECT_EQ(CollapseBackslashes(QStringLiteral("/out/a.txt")), QStringLiteral("/out/a.txt"));
    EXPECT_EQ(CollapseBackslashes(QStringLiteral("/out//a.txt")), QStringLiteral("/out/a.txt"));
    EXPECT_EQ(CollapseBackslashes(QStringLiteral("/out///a.txt")), QStringLiteral("/out//a.txt"));
    EXPECT_EQ(CollapseBackslashes(QStringLiteral("/out////a.txt")), QStringLiteral("/out//a.txt"));
    EXPECT_EQ(CollapseBackslashes(QStringLiteral("out//a//")), QStringLiteral("out/a/"));
    EXPECT_EQ(CollapseBackslashes(QString()), QString());
}

TEST(CollapseBackslashes, LeadingRunBecomesOneSeparator)
{
    EXPECT_EQ(CollapseBackslashes(QStringLiteral("/home/a")), QStringLiteral("/home/a"));
    EXPECT_EQ(CollapseBackslashes(QStringLiteral("//home/a")), QStringLiteral("/home/a"));
    EXPECT_EQ(CollapseBackslashes(QStringLiteral("///home//a")), QStringLiteral("/home/a"));
    EXPECT_EQ(CollapseBackslashes(QStringLiteral("//")), QStringLiteral("/"));
}

TEST(PathParts, FileAndFolderOfAPath)
{
    EXPECT_EQ(FileNameOfPath(QStringLiteral("/mail/archive2019.pst")), QStringLiteral("archive2019.pst"));
    EXPECT_EQ(FileNameOfPath(QStringLiteral("archive.pst")), QStringLiteral("archive.pst"));
    EXPECT_EQ(FileNameOfPath(QStringLiteral("/mail/")), QString());
    EXPECT_EQ(FolderOfPath(QStringLiteral("/mail/old.pst")), QStringLiteral("/mail/"));
    EXPECT_EQ(FolderOfPath(QStringLiteral("old.pst")), QString());
    EXPECT_EQ(FolderOfPath(QStringLiteral("/old.pst")), QStringLiteral("/"));
}

TEST(Existence, FilesFoldersAndLinks)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a.txt"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    const QString dangling = dir.filePath(QStringLiteral("dangling"));
    ASSERT_EQ(::symlink("/nonexistent/target", dangling.toUtf8().constData()), 0);

    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(FileExists(dir.path()));
    EXPECT_TRUE(FileExists(dangling));
    EXPECT_FALSE(FileExists(dir.filePath(QStringLiteral("missing"))));
    EXPECT_FALSE(FileExists(QString()));

    EXPECT_TRUE(FolderExists(dir.path()));
    EXPECT_TRUE(FolderExists(dir.path() + QStringLiteral("/")));
    EXPECT_FALSE(FolderExists(file));
    EXPECT_FALSE(FolderExists(dangling));
    EXPECT_FALSE(FolderExists(QString()));
}
