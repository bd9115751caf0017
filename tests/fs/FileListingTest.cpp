#include "testsupport/TemporaryTree.h"

#include "diagnostics/Failure.h"
#include "fs/DirectoryListing.h"
#include "fs/FileAttributes.h"
#include "fs/FileListing.h"
#include "fs/FolderExpansion.h"
#include "fs/WildcardPattern.h"
#include "testsupport/ScriptedDesktop.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace parcelon;
using namespace Qt::StringLiterals;
using parcelon::test::ScriptedDesktop;
using parcelon::test::TemporaryTree;

namespace {

bool matches(const QString& pattern, const QString& name)
{
    return WildcardPattern(pattern).matches(name);
}

} // namespace

TEST(WildcardPattern, StarsQuestionMarksAndLetterCase)
{
    EXPECT_TRUE(matches(u"*.PST"_s, u"a.pst"_s));
    EXPECT_TRUE(matches(u"*.pst"_s, u"Archive 2019.PST"_s));
    EXPECT_TRUE(matches(u"*.äb"_s, u"x.ÄB"_s));
    EXPECT_FALSE(matches(u"*.pst"_s, u"a.pstx"_s));
    EXPECT_FALSE(matches(u"*.pst"_s, u"a.pst.bak"_s));
    EXPECT_TRUE(matches(u"*.p?t"_s, u"a.pat"_s));
    EXPECT_FALSE(matches(u"*.p?t"_s, u"a.pt"_s));
    EXPECT_TRUE(matches(u"a*b*c"_s, u"aXbYbZc"_s));
    EXPECT_FALSE(matches(u"a*b*c"_s, u"aXbYcZ"_s));
    EXPECT_TRUE(matches(u"?"_s, u"日"_s)); // one character, outside the 16-bit range too
    EXPECT_TRUE(matches(u"?"_s, u"\U0001F600"_s));
}

TEST(WildcardPattern, StarDotStarMatchesEveryNameAndBracketsAreLiteral)
{
    for (const QString& name : {u"README"_s, u".profile"_s, u"a.b.c"_s, u"x."_s})
        EXPECT_TRUE(matches(u"*.*"_s, name)) << name.toStdString();
    EXPECT_FALSE(matches(u"*.x*"_s, u"README"_s));
    EXPECT_TRUE(matches(u"[x].pst"_s, u"[X].pst"_s));
    EXPECT_FALSE(matches(u"[x].pst"_s, u"x.pst"_s));
    EXPECT_FALSE(matches(u"*.[ps]st"_s, u"a.pst"_s));
}

TEST(DirectoryListing, OrderComparesUpperCaseUnitsThenExactUnits)
{
    QStringList names = {u"é"_s, u"_x"_s, u"b"_s, u"a"_s, u"C"_s, u"A"_s, u"ab"_s};
    std::sort(names.begin(), names.end(), listsBefore);
    // "_" (0x5F) follows the upper-case letters, as on NTFS; "A" before "a".
    EXPECT_EQ(names, (QStringList{u"A"_s, u"a"_s, u"ab"_s, u"b"_s, u"C"_s, u"_x"_s, u"é"_s}));
}

class FolderWithFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const QString& name :
             {u"b.PST"_s, u"a.pst"_s, u"c.txt"_s, u".hidden.pst"_s, u"[x].pst"_s, u"x.pst"_s, u"README"_s, u"what?.pst"_s})
            tree.file(u"f/"_s + name);
        tree.folder(u"f/folder.pst"_s);
        tree.link(u"f/link.pst"_s, u"a.pst"_s);
        tree.link(u"f/dangling.pst"_s, u"missing.pst"_s);
        tree.rawFile(u"f"_s, "\xff\xfe.pst");
        ASSERT_EQ(::mkfifo(tree.path(u"f/fifo.pst"_s).toUtf8().constData(), 0644), 0);
    }

    TemporaryTree tree;
};

TEST_F(FolderWithFiles, ListsMatchingFilesInListingOrder)
{
    const QStringList pst = {u".hidden.pst"_s, u"a.pst"_s, u"b.PST"_s, u"link.pst"_s, u"what?.pst"_s, u"x.pst"_s, u"[x].pst"_s};
    EXPECT_EQ(ListFilesInFolder(tree.path(u"f"_s), u"*.PST"_s), pst);
    EXPECT_EQ(ListFilesInFolder(tree.path(u"f/"_s), u"*.pst"_s), pst);
    EXPECT_EQ(ListFilesInFolder(tree.path(u"f"_s), u"*.*"_s),
              (QStringList{u".hidden.pst"_s, u"a.pst"_s, u"b.PST"_s, u"c.txt"_s, u"link.pst"_s, u"README"_s, u"what?.pst"_s,
                           u"x.pst"_s, u"[x].pst"_s}));
    EXPECT_EQ(ListFilesInFolder(tree.path(u"f"_s), u"[x].pst"_s), QStringList{u"[x].pst"_s});
}

TEST_F(FolderWithFiles, NothingToListGivesNoNames)
{
    EXPECT_TRUE(ListFilesInFolder(tree.path(u"f"_s), u"*.doc"_s).isEmpty());
    EXPECT_TRUE(ListFilesInFolder(tree.path(u"f/folder.pst"_s), u"*.*"_s).isEmpty());
    EXPECT_TRUE(ListFilesInFolder(tree.path(u"missing"_s), u"*.*"_s).isEmpty());
    EXPECT_TRUE(ListFilesInFolder(tree.path(u"f/a.pst"_s), u"*.*"_s).isEmpty());
}

TEST_F(FolderWithFiles, ExistingFilesAreRegularFilesAfterLinks)
{
    EXPECT_TRUE(IsExistingFile(tree.path(u"f/a.pst"_s)));
    EXPECT_TRUE(IsExistingFile(tree.path(u"f/what?.pst"_s)));
    EXPECT_TRUE(IsExistingFile(tree.path(u"f/link.pst"_s)));
    EXPECT_FALSE(IsExistingFile(tree.path(u"f/dangling.pst"_s)));
    EXPECT_FALSE(IsExistingFile(tree.path(u"f/fifo.pst"_s))); // and does not wait for a writer
    EXPECT_FALSE(IsExistingFile(tree.path(u"f/folder.pst"_s)));
    EXPECT_FALSE(IsExistingFile(tree.path(u"f/a.pst/"_s)));
    EXPECT_FALSE(IsExistingFile(tree.path(u"f/missing.pst"_s)));
    EXPECT_FALSE(IsExistingFile(QString()));
    // The name decodes with replacement characters, so its path leads nowhere.
    EXPECT_FALSE(IsExistingFile(tree.path(u"f/"_s) + QString::fromUtf8("\xff\xfe.pst")));
}

TEST_F(FolderWithFiles, AttributesOfFilesFoldersAndLinks)
{
    tree.folder(u"f/.config"_s);
    tree.link(u"f/to-hidden"_s, u".hidden.pst"_s);
    tree.link(u"f/to-folder"_s, u"folder.pst"_s);
    tree.link(u"f/proc"_s, u"/proc"_s);
    const std::pair<const char16_t*, int> expected[] = {
        {u"a.pst", 32},          {u".hidden.pst", 34}, {u"folder.pst", 16},  {u"folder.pst/", 16},
        {u".config/", 18},       {u"link.pst", 1056},  {u"to-hidden", 1058}, {u"to-folder/", 1046},
        {u"dangling.pst", 1024}, {u"fifo.pst", 0},     {u"proc", 1046},      {u"proc/", 1046},
    };
    for (const auto& [name, attributes] : expected) {
        const QString path = tree.path(u"f/"_s + QStringView(name).toString());
        EXPECT_EQ(FileAttributes(path), attributes) << path.toStdString();
    }
    // Through a link, a folder reads as the folder it names.
    EXPECT_EQ(FileAttributes(tree.path(u"f/to-folder"_s), LinkView::Through), 16);
    EXPECT_EQ(FileAttributes(tree.path(u"f/proc/"_s), LinkView::Through), 22);
    EXPECT_EQ(FileAttributes(tree.path(u"f/a.pst"_s), LinkView::Through), 32);
    EXPECT_EQ(FileAttributes(u"/proc"_s), 22);
    EXPECT_EQ(FileAttributes(u"/sys/"_s), 22);
    EXPECT_EQ(FileAttributes(u"/"_s), 16);
    EXPECT_EQ(FileAttributes(tree.path()), 16); // a tmpfs or disk folder is no system folder
    try {
        FileAttributes(tree.path(u"f/missing"_s));
        ADD_FAILURE() << "no failure for a missing path";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.number(), FailureNumber::PathNotFound);
        EXPECT_TRUE(failure.description().contains(tree.path(u"f/missing"_s)));
    }
}

TEST(FileAttributes, OnlyTheRootIsARootFolder)
{
    EXPECT_TRUE(IsRootFolder(u"/"_s));
    EXPECT_TRUE(IsRootFolder(u"//"_s));
    EXPECT_FALSE(IsRootFolder(u"/tmp/"_s));
    EXPECT_FALSE(IsRootFolder(QString()));
}

TEST(FileListing, NamesReadDuringTheExpansionAreListedOnceAndOnlyWhileThere)
{
    TemporaryTree tree;
    for (const QString& file : {u"T/a.pst"_s, u"T/b.PST"_s, u"T/c.txt"_s, u"T/S/s.pst"_s})
        tree.file(file);
    tree.folder(u"T/dir.pst"_s);
    const QString t = tree.path(u"T/"_s);
    QStringList folders{t};
    ListingMemory memory(u"*.pst"_s);
    ScriptedDesktop desktop;
    GetSubDirectories2016(folders, true, desktop, &memory);
    ASSERT_EQ(folders, (QStringList{t, t + u"dir.pst/"_s, t + u"S/"_s}));

    // Changes after the expansion: a file gone is not listed.
    ASSERT_TRUE(QFile::remove(t + u"b.PST"_s));
    EXPECT_EQ(ListFilesInFolder(t.chopped(1), u"*.pst"_s, &memory), QStringList{u"a.pst"_s});
    // What was kept is taken once; the folder is read again after that,
    // and for any other pattern.
    tree.file(u"T/d.pst"_s);
    EXPECT_EQ(ListFilesInFolder(t, u"*.pst"_s, &memory), (QStringList{u"a.pst"_s, u"d.pst"_s}));
    EXPECT_EQ(ListFilesInFolder(t + u"S"_s, u"*.txt"_s, &memory), QStringList());
    EXPECT_EQ(ListFilesInFolder(t + u"S"_s, u"*.pst"_s, &memory), QStringList{u"s.pst"_s});
}
