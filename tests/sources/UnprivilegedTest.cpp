#include "testsupport/SourcesTestSupport.h"

#include "testsupport/UnprivilegedRun.h"

#include <QTreeWidget>

#include <unistd.h>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

namespace {

const char* const kTreeVariable = "PARCELON_SOURCES_UNPRIVILEGED_TREE";
const char* const kLinkVariable = "PARCELON_SOURCES_UNPRIVILEGED_LINK";

class UnreadableFolders : public SourcesTest {
protected:
    // The folder scan and a drop of `root`/U, as the user running now.
    void checkTheyDropOut(const QString& root)
    {
        Form1& form = startForm();
        const QString u = root + u"/U"_s;
        // A file is listed without being readable; folders that cannot be
        // listed, or whose entries cannot be looked at, are left out.
        const QStringList expected{u + u"/secret.pst"_s, u + u"/top.pst"_s, u + u"/open/o.pst"_s};
        addAllInFolder(u"pst"_s, u);
        EXPECT_EQ(listed(form), expected);
        form.ListView1->clear();
        EXPECT_TRUE(drop(*draggedFiles({u})));
        EXPECT_EQ(listed(form), expected);
        EXPECT_TRUE(desktop.errorReports().isEmpty());
    }
};

} // namespace

TEST_F(UnreadableFolders, AreLeftOutWithoutAMessage)
{
    for (const QString& file :
         {u"U/top.pst"_s, u"U/secret.pst"_s, u"U/locked/in.pst"_s, u"U/listonly/l.pst"_s, u"U/open/o.pst"_s})
        tree.file(file);
    tree.setMode(u"U/locked"_s, 0);
    tree.setMode(u"U/listonly"_s, 0444);
    tree.setMode(u"U/secret.pst"_s, 0);

    if (::geteuid() != 0) {
        checkTheyDropOut(tree.path());
    } else {
        runTestAsUnprivilegedUser(tree.path(), u"UnreadableFolders.DISABLED_AsAnUnprivilegedUser"_s, kTreeVariable, tree.path());
    }
    for (const QString& path : {u"U/locked"_s, u"U/listonly"_s, u"U/secret.pst"_s})
        tree.setMode(path, 0755);
}

// Run only by the test above, as an unprivileged user.
TEST_F(UnreadableFolders, DISABLED_AsAnUnprivilegedUser)
{
    const QString root = qEnvironmentVariable(kTreeVariable);
    ASSERT_FALSE(root.isEmpty()) << "run through UnreadableFolders.AreLeftOutWithoutAMessage";
    ASSERT_NE(::geteuid(), 0u);
    checkTheyDropOut(root);
}

namespace {

class UnfollowableLink : public SourcesTest {
protected:
    // The folder scan and a drop of `root`/P, which holds a link the user
    // cannot follow, as the user running now.
    void checkTheLinkHidesNothing(const QString& root)
    {
        Form1& form = startForm();
        const QString p = root + u"/P"_s;
        const QStringList expected{p + u"/a.pst"_s, p + u"/sub/b.pst"_s};
        addAllInFolder(u"pst"_s, p);
        EXPECT_EQ(listed(form), expected);
        form.ListView1->clear();
        EXPECT_TRUE(drop(*draggedFiles({p})));
        EXPECT_EQ(listed(form), expected);
        EXPECT_TRUE(desktop.errorReports().isEmpty());
    }
};

} // namespace

TEST_F(UnfollowableLink, HidesNeitherItsFolderNorWhatIsBelow)
{
    tree.file(u"P/a.pst"_s);
    tree.file(u"P/sub/b.pst"_s);
    tree.file(u"private/inside/x.pst"_s);
    tree.link(u"P/into-private"_s, u"../private/inside"_s);
    tree.setMode(u"private"_s, 0700);
    if (::geteuid() != 0) {
        checkTheLinkHidesNothing(tree.path());
    } else {
        runTestAsUnprivilegedUser(tree.path(), u"UnfollowableLink.DISABLED_AsAnUnprivilegedUser"_s, kLinkVariable, tree.path());
    }
    tree.setMode(u"private"_s, 0755);
}

// Run only by the test above, as an unprivileged user.
TEST_F(UnfollowableLink, DISABLED_AsAnUnprivilegedUser)
{
    const QString root = qEnvironmentVariable(kLinkVariable);
    ASSERT_FALSE(root.isEmpty()) << "run through UnfollowableLink.HidesNeitherItsFolderNorWhatIsBelow";
    ASSERT_NE(::geteuid(), 0u);
    checkTheLinkHidesNothing(root);
}
