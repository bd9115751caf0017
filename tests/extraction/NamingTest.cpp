// Naming saved files: the worked examples on a real folder, the cache of
// free numbers and the shortening of names that do not fit.

#include "testsupport/AppTestSupport.h"
#include "extraction/Naming.h"
#include "testsupport/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

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

TEST(FittingFileName, LongNamesAreCutAtACharacterKeepingTheExtension)
{
    EXPECT_EQ(fittingFileName(u"report.pdf"_s), u"report.pdf"_s);
    const QString cjk = QString(86, QChar(0x8A18)) + u".txt"_s; // 262 bytes
    const QString fitted = fittingFileName(cjk);
    EXPECT_LE(fitted.toUtf8().size(), 245);
    EXPECT_TRUE(fitted.endsWith(u".txt"_s));
    EXPECT_TRUE(cjk.startsWith(fitted.chopped(4)));
    const QString emoji = QString::fromUtf16(u"\U0001F600").repeated(80) + u".png"_s; // 324 bytes
    const QString cut = fittingFileName(emoji);
    EXPECT_TRUE(cut.endsWith(u".png"_s));
    EXPECT_FALSE(cut.chopped(4).back().isHighSurrogate());
    EXPECT_LE(cut.toUtf8().size(), 245);
    const QString noDot = QString(300, u'a');
    EXPECT_EQ(fittingFileName(noDot).size(), 245);
}
