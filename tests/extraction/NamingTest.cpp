// Naming saved files: the worked examples on a real folder, the cache of
// free numbers and the shortening of names that do not fit.

#include "extraction/Naming.h"
#include "extraction/FreeNames.h"
#include "fs/FileNames.h"
#include "testsupport/AppTestSupport.h"
#include "testsupport/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/mount.h>
#include <unistd.h>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

namespace {

class Naming : public WindowTest {
protected:
    void SetUp() override { makeForm(); }

    QString out(const QString& name) const { return m_out.filePath(name); }
    void touch(const QString& name) { writeFile(out(name), QByteArray()); }
    QString chosen(const QString& wished) { return SetNewAttachnentName(form->desktop(), wished); }
    // Names a file as a save would, writes it and gives its name.
    QString save(const QString& folder, const QString& name)
    {
        const QString path = chosen(folder + u'/' + name);
        writeFile(path, QByteArray("x"));
        return QFileInfo(path).fileName();
    }
    QStringList saveTimes(const QString& folder, const QString& name, int times)
    {
        QStringList names;
        for (int i = 0; i < times; ++i)
            names << save(folder, name);
        return names;
    }

    QTemporaryDir m_out;
};

} // namespace

TEST_F(Naming, WorkedExamples)
{
    EXPECT_EQ(chosen(out(u"report.pdf"_s)), out(u"report.pdf"_s));
    touch(u"report.pdf"_s);
    EXPECT_EQ(chosen(out(u"report.pdf"_s)), out(u"report1.pdf"_s));
    touch(u"report1.pdf"_s);
    touch(u"report3.pdf"_s);
    EXPECT_EQ(chosen(out(u"report.pdf"_s)), out(u"report2.pdf"_s));
    touch(u"archive.tar.gz"_s);
    EXPECT_EQ(chosen(out(u"archive.tar.gz"_s)), out(u"archive.tar1.gz"_s));
    touch(u"README"_s);
    EXPECT_EQ(chosen(out(u"README"_s)), out(u"README1"_s));
    ASSERT_TRUE(QDir(m_out.path()).mkdir(u"data.csv"_s));
    EXPECT_EQ(chosen(out(u"data.csv"_s)), out(u"data1.csv"_s));
    touch(u".profile"_s);
    EXPECT_EQ(chosen(out(u".profile"_s)), out(u"1.profile"_s));
    EXPECT_TRUE(desktop.shown().empty());
}

TEST_F(Naming, DotsInTheFolderStayInTheFolder)
{
    ASSERT_TRUE(QDir(m_out.path()).mkdir(u"My.Files"_s));
    touch(u"My.Files/README"_s);
    EXPECT_EQ(chosen(out(u"My.Files/README"_s)), out(u"My.Files/README1"_s));
    EXPECT_EQ(PathWithoutExtension(u"/a.b/c"_s), u"/a.b/c"_s);
    EXPECT_EQ(GetExtensionFromFilename(u"/a.b/c"_s, true), QString());
    EXPECT_EQ(GetExtensionFromFilename(u"/a/c.tar.gz"_s, false), u"gz"_s);
    EXPECT_EQ(PathWithoutExtension(QString()), QString());
}

TEST_F(Naming, WishedPathComesBackAsGivenAndNumbersAreDecimal)
{
    const QString doubled = m_out.path() + u"//a.txt"_s;
    EXPECT_EQ(chosen(doubled), doubled);
    for (int n = 0; n <= 9; ++n)
        touch(n == 0 ? u"report.pdf"_s : u"report%1.pdf"_s.arg(n));
    EXPECT_EQ(chosen(out(u"report.pdf"_s)), out(u"report10.pdf"_s));
    // The doubled separator is where the numbered name is looked for too.
    EXPECT_EQ(chosen(m_out.path() + u"//report.pdf"_s), m_out.path() + u"//report10.pdf"_s);
}

TEST_F(Naming, RunsOfTheSameNameFillAGapLeftByADeletion)
{
    QStringList names;
    for (int i = 0; i < 30; ++i) {
        const QString name = chosen(out(u"image001.png"_s));
        names << QFileInfo(name).fileName();
        writeFile(name, QByteArray("x"));
    }
    EXPECT_EQ(names.first(), u"image001.png"_s);
    EXPECT_EQ(names.at(1), u"image0011.png"_s);
    EXPECT_EQ(names.last(), u"image00129.png"_s);
    // Someone removes a file during the run: the next name is that gap,
    // exactly what probing from 1 finds.
    ASSERT_TRUE(QFile::remove(out(u"image00117.png"_s)));
    EXPECT_EQ(chosen(out(u"image001.png"_s)), out(u"image00117.png"_s));
    writeFile(out(u"image00117.png"_s), QByteArray("x"));
    EXPECT_EQ(chosen(out(u"image001.png"_s)), out(u"image00130.png"_s));
    // A rename out of the folder frees a number too.
    ASSERT_TRUE(QFile::rename(out(u"image0013.png"_s), out(u"kept.png"_s)));
    EXPECT_EQ(chosen(out(u"image001.png"_s)), out(u"image0013.png"_s));
}

TEST_F(Naming, AFolderReplacedUnderItsPathStartsAfresh)
{
    const QStringList b6{u"b.txt"_s, u"b1.txt"_s, u"b2.txt"_s, u"b3.txt"_s, u"b4.txt"_s, u"b5.txt"_s};
    // The folder above is renamed and the folder made again under the old path.
    const QString folder = out(u"Extract/out"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_EQ(saveTimes(folder, u"a.txt"_s, 5).last(), u"a4.txt"_s);
    ASSERT_TRUE(QDir().rename(out(u"Extract"_s), out(u"Extract.old"_s)));
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_EQ(saveTimes(folder, u"a.txt"_s, 2), (QStringList{u"a.txt"_s, u"a1.txt"_s}));

    // The folder is removed with all it holds and made again (ext4 gives it
    // its old inode); a gap left there is found again.
    EXPECT_EQ(saveTimes(folder, u"b.txt"_s, 6), b6);
    ASSERT_TRUE(QDir(folder).removeRecursively());
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_EQ(saveTimes(folder, u"b.txt"_s, 6), b6);
    ASSERT_TRUE(QFile::remove(folder + u"/b2.txt"_s));
    EXPECT_EQ(save(folder, u"b.txt"_s), u"b2.txt"_s);

    // Another file system mounted over the folder, and taken away again.
    if (::geteuid() != 0 || ::mount("parcelon-test", folder.toUtf8().constData(), "tmpfs", 0, nullptr) != 0)
        return;
    EXPECT_EQ(saveTimes(folder, u"b.txt"_s, 2), (QStringList{u"b.txt"_s, u"b1.txt"_s}));
    EXPECT_EQ(::umount(folder.toUtf8().constData()), 0);
    ASSERT_TRUE(QFile::remove(folder + u"/b4.txt"_s));
    EXPECT_EQ(save(folder, u"b.txt"_s), u"b4.txt"_s);
    EXPECT_EQ(save(folder, u"b.txt"_s), u"b6.txt"_s);
    EXPECT_TRUE(desktop.shown().empty());
}

TEST_F(Naming, NothingIsRememberedWhereChangesMayGoUnseen)
{
    // A file system inotify cannot vouch for (ramfs stands in for NFS, SMB,
    // FUSE and overlay, which this test cannot mount).
    const QString folder = out(u"elsewhere"_s);
    ASSERT_TRUE(QDir().mkpath(folder));
    if (::geteuid() != 0 || ::mount("parcelon-test", folder.toUtf8().constData(), "ramfs", 0, nullptr) != 0)
        GTEST_SKIP() << "mounting a file system needs root";
    FreeNames& names = FreeNames::instance();
    const QString base = folder + u"/c"_s;
    EXPECT_EQ(names.start(base, u".txt"_s, folder + u'/'), 1);
    names.record(base, u".txt"_s, 7);
    EXPECT_EQ(names.start(base, u".txt"_s, folder + u'/'), 1);
    EXPECT_EQ(saveTimes(folder, u"c.txt"_s, 3), (QStringList{u"c.txt"_s, u"c1.txt"_s, u"c2.txt"_s}));
    EXPECT_EQ(::umount(folder.toUtf8().constData()), 0);

    // Where it is used, it is used.
    const QString local = out(u"here"_s);
    ASSERT_TRUE(QDir().mkpath(local));
    names.start(local + u"/c"_s, u".txt"_s, local + u'/');
    names.record(local + u"/c"_s, u".txt"_s, 7);
    EXPECT_EQ(names.start(local + u"/c"_s, u".txt"_s, local + u'/'), 7);
}

TEST(FittingFileName, LongNamesAreCutAtACharacterKeepingTheExtension)
{
    EXPECT_EQ(fittingFileName(u"report.pdf"_s), u"report.pdf"_s);
    const QString cjk = QString(86, QChar(0x8A18)) + u".txt"_s; // 262 bytes
    const QString fitted = fittingFileName(cjk);
    EXPECT_EQ(fitted, QString(83, QChar(0x8A18)) + u".txt"_s);
    EXPECT_TRUE(cjk.startsWith(fitted.chopped(4)));
    const QString emoji = QString::fromUtf16(u"\U0001F600").repeated(80) + u".png"_s; // 324 bytes
    const QString cut = fittingFileName(emoji);
    EXPECT_TRUE(cut.endsWith(u".png"_s));
    EXPECT_FALSE(cut.chopped(4).back().isHighSurrogate());
    EXPECT_LE(cut.toUtf8().size(), 255);
    const QString noDot = QString(300, u'a');
    EXPECT_EQ(fittingFileName(noDot).size(), 255);
}

TEST(FittingFileName, NumberedNamesFitWithAtLeastEightCharactersBeforeTheExtension)
{
    const QString x300 = QString(300, u'x');
    EXPECT_EQ(fittingFileName(u"report"_s, u"12"_s, u".pdf"_s), u"report12.pdf"_s);
    EXPECT_EQ(fittingFileName(QString(251, u'a'), u"1"_s, u".txt"_s), QString(250, u'a') + u"1.txt"_s);
    EXPECT_EQ(fittingFileName(QString(251, u'a'), u"100"_s, u".txt"_s), QString(248, u'a') + u"100.txt"_s);
    // The extension leaves fewer than eight characters: it is cut from its end.
    EXPECT_EQ(fittingFileName(u"abcdefghijk"_s, u"7"_s, u"."_s + x300), u"abcdefgh7."_s + QString(245, u'x'));
    EXPECT_EQ(fittingFileName(u"ab"_s, u"7"_s, u"."_s + x300), u"ab7."_s + QString(251, u'x'));
    // A name that is all extension.
    EXPECT_EQ(fittingFileName(QString(), u"3"_s, u"."_s + x300), u"3."_s + QString(253, u'x'));
    EXPECT_EQ(fittingFileName(u"."_s + x300), u"."_s + QString(254, u'x'));
    // Characters stay whole: four-byte ones before a CJK extension.
    const QString emoji = QString::fromUtf16(u"\U0001F600");
    const QString fitted = fittingFileName(emoji.repeated(70), u"9"_s, u"."_s + QString(80, QChar(0x8A18)));
    EXPECT_EQ(fitted, emoji.repeated(8) + u"9."_s + QString(73, QChar(0x8A18)));
    EXPECT_LE(fitted.toUtf8().size(), 255);
}
