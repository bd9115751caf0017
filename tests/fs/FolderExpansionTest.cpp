#include "testsupport/TemporaryTree.h"

#include "diagnostics/Failure.h"
#include "diagnostics/Yield.h"
#include "fs/FileListing.h"
#include "fs/FolderExpansion.h"
#include "testsupport/ScriptedDesktop.h"
#include "testsupport/UnprivilegedRun.h"

#include <QCoreApplication>
#include <QDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace parcelon;
using namespace Qt::StringLiterals;
using parcelon::test::runTestAsUnprivilegedUser;
using parcelon::test::ScriptedDesktop;
using parcelon::test::TemporaryTree;

namespace {

// Expands the folders with the recursive flag; any error report fails the test.
QStringList expanded(QStringList folders, bool recursive = true)
{
    ScriptedDesktop desktop;
    GetSubDirectories2016(folders, recursive, desktop);
    return folders;
}

const char* const kTreeVariable = "PARCELON_FS_UNPRIVILEGED_TREE";

// The folder A holding B (which holds D) and C; returns A's path.
QString makeTreeABCD(TemporaryTree& tree, const QString& c = u"C"_s)
{
    tree.folder(u"A/B/D"_s);
    tree.folder(u"A/"_s + c);
    return tree.path(u"A/"_s);
}

} // namespace

TEST(FolderExpansion, BreadthFirstInListingOrder)
{
    TemporaryTree tree;
    const QString a = makeTreeABCD(tree, u"c"_s);
    tree.file(u"A/B/file"_s);
    const QString e = tree.folder(u"E"_s);
    EXPECT_EQ(expanded({a}), (QStringList{a, a + u"B/"_s, a + u"c/"_s, a + u"B/D/"_s}));
    EXPECT_EQ(expanded({e}), QStringList{e});
    EXPECT_EQ(expanded({a}, false), (QStringList{a, a + u"B/"_s, a + u"c/"_s}));
    // A folder that is gone is passed over and kept.
    const QString gone = tree.path(u"gone/"_s);
    EXPECT_EQ(expanded({e, gone, a + u"B/"_s}), (QStringList{e, gone, a + u"B/"_s, a + u"B/D/"_s}));
}

TEST(FolderExpansion, HiddenFoldersAreDescendedProtectedOnesLeftOut)
{
    TemporaryTree tree;
    const QString t = tree.folder(u"T"_s);
    tree.folder(u"T/.hidden/deep"_s);
    tree.folder(u"T/sub"_s);
    tree.link(u"T/procfs"_s, u"/proc"_s);
    tree.link(u"T/sysfs"_s, u"/sys"_s);
    EXPECT_EQ(expanded({t}), (QStringList{t, t + u".hidden/"_s, t + u"sub/"_s, t + u".hidden/deep/"_s}));

    // A protected starting folder stays but is not looked into.
    EXPECT_EQ(expanded({u"/proc/"_s}), QStringList{u"/proc/"_s});
    EXPECT_EQ(expanded({t + u"sysfs/"_s}), QStringList{t + u"sysfs/"_s});

    // The root is listed; the pseudo file systems below it are not kept.
    const QStringList top = expanded({u"/"_s}, false);
    EXPECT_EQ(top.front(), u"/"_s);
    EXPECT_TRUE(top.contains(u"/tmp/"_s) || top.contains(u"/usr/"_s));
    EXPECT_FALSE(top.contains(u"/proc/"_s));
    EXPECT_FALSE(top.contains(u"/sys/"_s));
}

TEST(FolderExpansion, LinksToFoldersBelowAreNotFollowed)
{
    TemporaryTree tree;
    const QString l = tree.folder(u"L"_s);
    tree.folder(u"L/B/C"_s);
    tree.folder(u"outside/far"_s);
    tree.link(u"L/B/back"_s, u".."_s);
    tree.link(u"L/self"_s, u"."_s);
    tree.link(u"L/a-toC"_s, u"B/C"_s);
    tree.link(u"L/B/dosdevices"_s, u"/"_s);
    tree.link(u"L/away"_s, u"../outside"_s);
    tree.link(u"L/dangling"_s, u"../nowhere"_s);
    // A link sorted before its target does not hide the folder itself.
    EXPECT_EQ(expanded({l}), (QStringList{l, l + u"B/"_s, l + u"B/C/"_s}));
    // A starting folder is not listed again below another one.
    EXPECT_EQ(expanded({l + u"B/"_s, l}), (QStringList{l + u"B/"_s, l, l + u"B/C/"_s}));

    // A starting folder that is a link is the folder it names, under the path given.
    tree.link(u"start"_s, u"L"_s);
    const QString start = tree.path(u"start/"_s);
    EXPECT_EQ(expanded({start}), (QStringList{start, start + u"B/"_s, start + u"B/C/"_s}));
    EXPECT_EQ(expanded({l + u"away/"_s}), (QStringList{l + u"away/"_s, l + u"away/far/"_s}));
}

TEST(FolderExpansion, AFolderMountedAgainBelowItselfIsScannedOnce)
{
    TemporaryTree tree;
    const QString m = tree.folder(u"M"_s);
    const QString loop = tree.folder(u"M/sub/loop"_s);
    if (::geteuid() != 0 || ::mount(m.toUtf8().constData(), loop.toUtf8().constData(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "bind mounts need root";
    EXPECT_EQ(expanded({m}), (QStringList{m, m + u"sub/"_s}));
    EXPECT_EQ(::umount(loop.toUtf8().constData()), 0);
}

TEST(FolderExpansion, NamesThatCannotBeHandledAreLeftOut)
{
    TemporaryTree tree;
    const QString n = tree.folder(u"N"_s);
    for (const QString& name : {u"ok"_s, u"tab\tname"_s, u"ctl\x01"_s, u"del\x7f"_s, u"nel\u0085"_s, u"q?mark"_s, u"日本"_s})
        tree.folder(u"N/"_s + name + u"/inner"_s);
    // Names that are not UTF-8: one leads nowhere, the other to a look-alike
    // folder that is valid ("dup" and U+FFFD), which is listed once.
    tree.rawFolder(u"N"_s, "bad\xff");
    tree.rawFolder(u"N"_s, "bad\xff/inner");
    tree.rawFolder(u"N"_s, "dup\xff");
    tree.folder(u"N/dup\uFFFD/inner"_s);
    EXPECT_EQ(expanded({n}),
              (QStringList{n, n + u"dup\uFFFD/"_s, n + u"ok/"_s, n + u"q?mark/"_s, n + u"日本/"_s, n + u"dup\uFFFD/inner/"_s,
                           n + u"ok/inner/"_s, n + u"q?mark/inner/"_s, n + u"日本/inner/"_s}));
    EXPECT_FALSE(HasUnsupportedCharacters(QString()));
    QString printable;
    for (char16_t c = 32; c < 127; ++c)
        printable += QChar(c);
    EXPECT_FALSE(HasUnsupportedCharacters(printable));
    EXPECT_FALSE(HasUnsupportedCharacters(u"\u00a0Ωλ"_s));
    EXPECT_TRUE(HasUnsupportedCharacters(u"a\u009f"_s));
    EXPECT_TRUE(HasUnsupportedCharacters(u"\x1f"_s));
}

TEST(FolderExpansion, PathsUpToThePlatformLimits)
{
    TemporaryTree tree;
    const QString base = tree.folder(u"deep"_s);
    const qsizetype baseBytes = base.toUtf8().size();
    ASSERT_LT(baseBytes, 254);
    // Fifteen names of the longest length, then one that brings the path with
    // its separator to 4095 bytes; the folder below it is out of reach.
    QStringList chain{base};
    for (int level = 1; level <= 16; ++level)
        chain << chain.back() + QString(level < 16 ? 255 : 254 - baseBytes, u'n') + u'/';
    ASSERT_EQ(chain.back().toUtf8().size(), 4095);
    ASSERT_TRUE(QDir().mkpath(chain.back()));
    const int last = ::open(chain.back().toUtf8().constData(), O_PATH | O_DIRECTORY);
    ASSERT_GE(last, 0);
    ASSERT_EQ(::mkdirat(last, "x", 0755), 0);

    EXPECT_EQ(expanded({base}), chain);

    ::unlinkat(last, "x", AT_REMOVEDIR);
    ::close(last);
}

namespace {

// Runs once per yield of the code under test: counts, and asks the program to
// end at the yield numbered `endAt`.
struct YieldCounter {
    int count = 0;
    int endAt = 0;
    bool active = true;

    void post()
    {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [this] {
                if (!active)
                    return;
                if (++count == endAt)
                    requestProgramEnd();
                post();
            },
            Qt::QueuedConnection);
    }
    ~YieldCounter()
    {
        active = false;
        QCoreApplication::processEvents();
        clearProgramEnd();
    }
};

} // namespace

TEST(FolderExpansion, YieldsForEveryFolderAndEndsWhenTheWindowCloses)
{
    TemporaryTree tree;
    const QString a = makeTreeABCD(tree);
    {
        YieldCounter counter;
        counter.post();
        EXPECT_EQ(expanded({a}).size(), 4);
        // Folders looked at (A, B, C, D), subfolders listed (B, C, D), folders kept (D, then B, C, D).
        EXPECT_EQ(counter.count, 11);
    }
    YieldCounter counter;
    counter.endAt = 5; // while D is listed
    counter.post();
    QStringList folders{a};
    ScriptedDesktop desktop;
    EXPECT_THROW(GetSubDirectories2016(folders, true, desktop), ProgramEnding);
    EXPECT_EQ(folders, QStringList{a});
}

namespace {

// Checks made as a user without special rights, who cannot read some folders.
void checkUnreadableFolders(const QString& root)
{
    const QString a = root + u"/A/"_s;
    const QString e = root + u"/E/"_s;
    // A folder that can be listed stays, with its subfolders, whatever of
    // its entries cannot be looked at: a link into a locked folder, the
    // entries of a folder that may be read but not entered.
    EXPECT_EQ(expanded({a}), (QStringList{a, a + u"B/"_s, a + u"C/"_s, a + u"listonly/"_s, a + u"B/D/"_s}));
    EXPECT_EQ(expanded({root + u"/locked/"_s, e}), (QStringList{e, e + u"F/"_s}));
    try {
        ListFilesInFolder(a + u"locked"_s, u"*.*"_s);
        ADD_FAILURE() << "an unreadable folder was listed";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.number(), FailureNumber::PermissionDenied);
    }
    EXPECT_TRUE(IsExistingFile(a + u"secret.pst"_s));
    EXPECT_FALSE(IsExistingFile(a + u"listonly/file.pst"_s));
}

} // namespace

TEST(FolderExpansion, UnreadableFoldersDropOutWithoutAMessage)
{
    TemporaryTree tree;
    makeTreeABCD(tree);
    for (const QString& folder : {u"A/locked/X"_s, u"A/listonly/inner"_s, u"locked/X"_s, u"E/F"_s})
        tree.folder(folder);
    tree.file(u"A/listonly/file.pst"_s);
    tree.file(u"A/secret.pst"_s);
    tree.link(u"A/into-locked"_s, u"../locked/X"_s);
    const QStringList locked = {u"A/locked"_s, u"locked"_s, u"A/secret.pst"_s};
    for (const QString& path : locked)
        tree.setMode(path, 0);
    tree.setMode(u"A/listonly"_s, 0444);

    if (::geteuid() != 0) {
        checkUnreadableFolders(tree.path());
    } else {
        // Root reads everything: the checks run again as the user "nobody".
        runTestAsUnprivilegedUser(tree.path(), u"UnprivilegedFolderExpansion.DISABLED_UnreadableFolders"_s, kTreeVariable,
                                  tree.path());
    }
    for (const QString& path : locked + QStringList{u"A/listonly"_s})
        tree.setMode(path, 0755);
}

// Run only by the test above, as an unprivileged user.
TEST(UnprivilegedFolderExpansion, DISABLED_UnreadableFolders)
{
    const QString root = qEnvironmentVariable(kTreeVariable);
    ASSERT_FALSE(root.isEmpty()) << "run through FolderExpansion.UnreadableFoldersDropOutWithoutAMessage";
    ASSERT_NE(::geteuid(), 0u);
    checkUnreadableFolders(root);
}
