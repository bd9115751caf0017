// "Start Extracting Attachments" end to end: the real window offscreen, real
// PST files written by pstgen, the real file system.

#include "KnownMailbox.h"
#include "app/Program.h"
#include "diagnostics/ErrorReport.h"
#include "diagnostics/Yield.h"
#include "extraction/HostCheck.h"
#include "mailhost/model/Registry.h"
#include "sources/SourceList.h"
#include "testsupport/AppTestSupport.h"
#include "testsupport/TestPaths.h"
#include "window/ProgressBar.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;
using namespace parcelon::pstgen::fixtures;

namespace {

class ExtractionRun : public WindowTest {
protected:
    void SetUp() override
    {
        makeForm();
        m_mail = m_work.filePath(u"mail/known.pst"_s);
        QDir().mkpath(m_work.filePath(u"mail"_s));
        writeMailbox(knownMailbox(), m_mail);
        m_out = m_work.filePath(u"out"_s);
        QDir().mkpath(m_out);
        toFolder(m_out + u'/');
    }

    void toFolder(const QString& text)
    {
        form->setOptionSelected(form->Option1, true);
        form->Text1->setText(text);
    }
    void besideEachFile() { form->setOptionSelected(form->Option2, true); }

    void run() { form->PushButton2->click(); }

    static QStringList filesIn(const QString& dir) { return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

    QTemporaryDir m_work;
    QString m_mail;
    QString m_out;
};

const QStringList kSavedOnce{u"notes.txt"_s, u"plan.xlsx"_s, u"public.txt"_s, u"report.pdf"_s, u"report1.pdf"_s};

} // namespace

TEST_F(ExtractionRun, SavesEveryAttachmentOfEveryMailBelowTheTopFolder)
{
    addSource(*form, m_mail);
    desktop.expectMessage();
    run();
    EXPECT_EQ(desktop.messages(), QStringList{u"Done."_s});
    EXPECT_EQ(filesIn(m_out), kSavedOnce);
    EXPECT_EQ(readFile(m_out + u"/report.pdf"_s), contentOf(u"first report"_s));
    EXPECT_EQ(readFile(m_out + u"/report1.pdf"_s), contentOf(u"second report"_s));
    EXPECT_EQ(readFile(m_out + u"/plan.xlsx"_s), contentOf(u"plan"_s));
    EXPECT_EQ(form->mousePointer(), MousePointer::Default);
    EXPECT_FALSE(form->RunInProgress);
    EXPECT_EQ(sourceCount(*form), 1);
    EXPECT_EQ(form->CurrentSourceFile, m_mail);
}

TEST_F(ExtractionRun, OutputFolderWithOrWithoutTrailingSeparator)
{
    toFolder(m_out);
    addSource(*form, m_mail);
    desktop.expectMessage();
    run();
    EXPECT_EQ(filesIn(m_out), kSavedOnce);
}

TEST_F(ExtractionRun, BesideEachPstFileWhateverTheFolderText)
{
    besideEachFile();
    form->Text1->setText(u"/no/such/folder"_s);
    addSource(*form, m_mail);
    desktop.expectMessage();
    run();
    EXPECT_EQ(desktop.messages(), QStringList{u"Done."_s});
    EXPECT_EQ(filesIn(m_work.filePath(u"mail"_s)), QStringList{u"known.pst"_s} + kSavedOnce);
    EXPECT_TRUE(filesIn(m_out).isEmpty());
}

TEST_F(ExtractionRun, TheSameFileTwiceGetsNumberedNamesAndReplacesNothing)
{
    addSource(*form, m_mail);
    addSource(*form, m_mail);
    desktop.expectMessage();
    run();
    EXPECT_EQ(filesIn(m_out),
              (QStringList{u"notes.txt"_s, u"notes1.txt"_s, u"plan.xlsx"_s, u"plan1.xlsx"_s, u"public.txt"_s, u"public1.txt"_s,
                           u"report.pdf"_s, u"report1.pdf"_s, u"report2.pdf"_s, u"report3.pdf"_s}));
    EXPECT_EQ(readFile(m_out + u"/report.pdf"_s), contentOf(u"first report"_s));
    EXPECT_EQ(readFile(m_out + u"/report2.pdf"_s), contentOf(u"first report"_s));
    EXPECT_EQ(readFile(m_out + u"/report3.pdf"_s), contentOf(u"second report"_s));
}

TEST_F(ExtractionRun, NothingToDoOrNowhereToPutIt)
{
    toFolder(u"/no/such/folder/"_s);
    desktop.expectMessage();
    run();
    EXPECT_EQ(desktop.messages(), QStringList{u"No files added."_s});

    addSource(*form, m_mail);
    desktop.expectMessage();
    run();
    EXPECT_EQ(desktop.messages().last(), u"Folder does not exist. Please select another folder."_s);
    toFolder(QString());
    desktop.expectMessage();
    run();
    EXPECT_EQ(desktop.messages().last(), u"Folder does not exist. Please select another folder."_s);
    EXPECT_FALSE(form->RunInProgress);
    EXPECT_EQ(form->ProgressBar1->text(), u"Progress Bar"_s);
    EXPECT_TRUE(filesIn(m_out).isEmpty());
}

TEST_F(ExtractionRun, ProgressNamesEachFileAndEndsIdle)
{
    QStringList paths;
    for (const char16_t* name : {u"a.pst", u"b.pst", u"c.pst"}) {
        paths << m_work.filePath(QString::fromUtf16(name));
        writeMailbox(knownMailbox(), paths.back());
        addSource(*form, paths.back());
    }
    std::vector<int> values;
    QStringList texts;
    QObject::connect(form->ProgressBar1, &QProgressBar::valueChanged, [&](int value) {
        values.push_back(value);
        texts << form->ProgressBar1->text();
    });
    desktop.expectMessage();
    run();
    EXPECT_EQ(values, (std::vector<int>{33, 67, 100, 0}));
    // Each value is set before its file is named.
    EXPECT_EQ(texts, (QStringList{u"Progress Bar"_s, u"Processing: a.pst"_s, u"Processing: b.pst"_s, u"Processing: c.pst"_s}));
    EXPECT_EQ(form->ProgressBar1->text(), u"Progress Bar"_s);
    EXPECT_EQ(filesIn(m_out).size(), 3 * kSavedOnce.size());
}

TEST_F(ExtractionRun, SecondClickDuringARunIsIgnored)
{
    addSource(*form, m_mail);
    bool clickedDuringRun = false;
    QTimer::singleShot(0, form.get(), [&] {
        clickedDuringRun = form->RunInProgress;
        form->PushButton2->click();
    });
    desktop.expectMessage();
    run();
    EXPECT_TRUE(clickedDuringRun);
    EXPECT_EQ(desktop.messages(), QStringList{u"Done."_s});
    EXPECT_EQ(filesIn(m_out), kSavedOnce);
}

TEST_F(ExtractionRun, EntriesRemovedDuringTheRunAreSkipped)
{
    const QString other = m_work.filePath(u"other.pst"_s);
    writeMailbox(knownMailbox(), other);
    addSource(*form, m_mail);
    addSource(*form, m_work.filePath(u"removed.pst"_s));
    addSource(*form, other);
    QTimer::singleShot(0, form.get(), [&] { delete form->ListView1->topLevelItem(1); });
    desktop.expectMessage();
    run();
    // Two files, no report for the position that went away.
    EXPECT_EQ(desktop.shown().size(), 1u);
    EXPECT_EQ(filesIn(m_out).size(), 2 * kSavedOnce.size());
    EXPECT_EQ(form->CurrentSourceFile, other);
}

TEST_F(ExtractionRun, DamagedFileIsReportedAndTheRunGoesOn)
{
    const QString damaged = m_work.filePath(u"damaged.pst"_s);
    writeFile(damaged, QByteArray(8192, 'z'));
    addSource(*form, damaged);
    addSource(*form, m_mail);
    desktop.expectErrorReport();
    desktop.expectMessage();
    run();
    ASSERT_EQ(desktop.errorReports().size(), 1);
    const QString report = desktop.errorReports().front();
    EXPECT_TRUE(report.startsWith(damaged + u" is not a PST file"_s)) << report.toStdString();
    EXPECT_TRUE(report.endsWith(u"\r\nin Tovarek2021/08/31.Form1.ExtractAttachmentFromPST at line 106\r\r"
                                u"Please email screenshot of this message to "_s
                                + kSupportAddress.toString()));
    EXPECT_EQ(desktop.messages(), QStringList{u"Done."_s});
    EXPECT_EQ(filesIn(m_out), kSavedOnce);
    EXPECT_EQ(form->mousePointer(), MousePointer::Default);
}

TEST_F(ExtractionRun, AttachmentThatCannotBeSavedIsReportedAtItsStep)
{
    pstgen::Description d;
    d.root.folders = {folder(u"Inbox"_s,
                             {message(u"odd names"_s,
                                      {text(u"a/b.txt"_s, contentOf(u"slash"_s)), text(u"fine.txt"_s, contentOf(u"fine"_s))})})};
    // The report names the file once, whatever its name holds.
    const QString path = m_work.filePath(u"odd: \"names\", 2019.pst"_s);
    writeMailbox(d, path);
    addSource(*form, path);
    desktop.expectErrorReport();
    desktop.expectMessage();
    run();
    EXPECT_EQ(desktop.errorReports(),
              QStringList{
                  u"The attachment \"a/b.txt\" cannot be saved under its name: %1, folder \"Inbox\", item 1 "
                  u"(node 0x200024), attachment 1: it holds a \"/\"\r\nin Tovarek2021/08/31.Form1.GetMailItems at line 148"_s.arg(
                      path)});
    EXPECT_EQ(filesIn(m_out), QStringList{u"fine.txt"_s});
}

// A tree deeper than any real one is walked whole and in the usual order:
// everything below a folder before the folder's own items.
TEST_F(ExtractionRun, AThousandLevelsDeepTreeIsWalkedWholeInOrder)
{
    pstgen::Folder deep = folder(u"Level 1000"_s, {message(u"bottom"_s, {text(u"same.txt"_s, "deep")})});
    for (int level = 999; level >= 2; --level)
        deep = folder(u"Level %1"_s.arg(level), {}, {std::move(deep)});
    pstgen::Description d;
    d.root.folders = {folder(u"A"_s, {message(u"in A"_s, {text(u"same.txt"_s, "A")})}, {std::move(deep)}),
                      folder(u"C"_s, {message(u"in C"_s, {text(u"same.txt"_s, "C")})})};
    const QString path = m_work.filePath(u"deep.pst"_s);
    writeMailbox(d, path);
    addSource(*form, path);
    desktop.expectMessage();
    run();
    EXPECT_EQ(desktop.messages(), QStringList{u"Done."_s});
    EXPECT_EQ(filesIn(m_out), (QStringList{u"same.txt"_s, u"same1.txt"_s, u"same2.txt"_s}));
    EXPECT_EQ(readFile(m_out + u"/same.txt"_s), "deep");
    EXPECT_EQ(readFile(m_out + u"/same1.txt"_s), "A");
    EXPECT_EQ(readFile(m_out + u"/same2.txt"_s), "C");
}

TEST_F(ExtractionRun, NoFolderToSaveIntoIsReportedAndNothingIsReused)
{
    besideEachFile();
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_work.filePath(u"mail"_s)));
    addSource(*form, u"known.pst"_s);
    desktop.tolerateErrorReports();
    desktop.expectMessage();
    run();
    QDir::setCurrent(saved);
    // One report per attachment of mail, none saved anywhere.
    EXPECT_EQ(desktop.errorReports().size(), kSavedOnce.size());
    for (const QString& report : desktop.errorReports())
        EXPECT_TRUE(report.startsWith(u"No target path for attachment"_s)) << report.toStdString();
    EXPECT_EQ(filesIn(m_work.filePath(u"mail"_s)), QStringList{u"known.pst"_s});
}

TEST_F(ExtractionRun, ClosingTheWindowEndsTheRunAtOnce)
{
    addSource(*form, m_mail);
    addSource(*form, m_mail);
    // The window is closed in the middle of the first file's walk, once
    // its first attachment is saved.
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, form.get(), [&] {
        if (!filesIn(m_out).isEmpty() && form->isVisible())
            form->close();
    });
    form->show();
    ticks.start(0);
    run();
    EXPECT_TRUE(programEnding());
    // No message, no file of the second entry, nothing half-written.
    EXPECT_TRUE(desktop.shown().empty());
    const QStringList saved = filesIn(m_out);
    EXPECT_GT(saved.size(), 0);
    EXPECT_LT(saved.size(), kSavedOnce.size());
    for (const QString& name : saved)
        EXPECT_TRUE(kSavedOnce.contains(name)) << name.toStdString();
}

class MailHostMissing : public WindowTest {
protected:
    ~MailHostMissing() override
    {
        mailhost::Registry::global().add(mailhost::kApplicationProgId, [] { return std::make_shared<mailhost::Application>(); });
    }
};

TEST_F(MailHostMissing, StartUpShowsTheMessageAndEndsWithoutAWindow)
{
    mailhost::Registry::global().remove(mailhost::kApplicationProgId);
    makeForm();
    desktop.expectMessage();
    const int status = startForm1(*form, [](Form1& f) { EnsureMailHost(f.desktop()); });
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(form->isVisible());
    ASSERT_EQ(desktop.messages().size(), 1);
    const QStringList paragraphs = desktop.messages().front().split(u"\r\n\r\n"_s);
    ASSERT_EQ(paragraphs.size(), 5);
    EXPECT_EQ(paragraphs[0], u"Error 6631. A normal instance of Outlook could not be created."_s);
    EXPECT_EQ(paragraphs[4],
              u"Please email a screenshot of this message to support@wrenfield.example"
              u" if you have done all of above and are still having problems."_s);
}

TEST_F(ExtractionRun, NamesOfTheLongestLengthGetTheirNumberToo)
{
    // 255 bytes: Latin, and CJK (3 bytes a character) with a short extension;
    // 262 bytes, a name whose extension alone nearly fills a name.
    const QString latin = QString(251, u'a') + u".txt"_s;
    const QString cjk = QString(84, QChar(0x8A18)) + u".md"_s;
    const QString longExtension = u"notes-of-may."_s + QString(249, u'x');
    // 86 CJK characters, 262 bytes: a name Windows takes, too long here.
    const QString tooLong = QString(86, QChar(0x6587)) + u".txt"_s;
    pstgen::Description d;
    std::vector<pstgen::Attachment> attachments;
    for (const QString& name : {latin, cjk, longExtension, tooLong})
        for (int copy = 0; copy < 3; ++copy)
            attachments.push_back(text(name, contentOf(name.left(3) + QString::number(copy))));
    d.root.folders = {folder(u"Inbox"_s, {message(u"long names"_s, attachments)})};
    const QString path = m_work.filePath(u"long.pst"_s);
    writeMailbox(d, path);
    addSource(*form, path);
    desktop.expectMessage();
    run();
    EXPECT_TRUE(desktop.errorReports().isEmpty()) << desktop.errorReports().join(u'\n').toStdString();

    const QString longCjk = QString(83, QChar(0x6587));
    const QStringList expected{latin, QString(250, u'a') + u"1.txt"_s, QString(250, u'a') + u"2.txt"_s, cjk,
                               QString(83, QChar(0x8A18)) + u"1.md"_s, QString(83, QChar(0x8A18)) + u"2.md"_s,
                               // Eight characters stay before the extension, which is cut instead.
                               u"notes-of."_s + QString(246, u'x'), u"notes-of1."_s + QString(245, u'x'),
                               u"notes-of2."_s + QString(245, u'x'), longCjk + u".txt"_s, longCjk + u"1.txt"_s,
                               longCjk + u"2.txt"_s};
    for (int i = 0; i < expected.size(); ++i) {
        const QString& name = expected.at(i);
        EXPECT_LE(name.toUtf8().size(), 255) << i;
        QFile file(m_out + u'/' + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "missing: " << i;
        const QString& wished = i < 3 ? latin : i < 6 ? cjk : i < 9 ? longExtension : tooLong;
        EXPECT_EQ(file.readAll(), contentOf(wished.left(3) + QString::number(i % 3))) << i;
    }
    EXPECT_EQ(filesIn(m_out).size(), expected.size());
}
