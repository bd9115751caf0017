// A new user's path: start, add the sample PST files with the dialog, start
// the run, and find every attachment of their mail in the output folder.

#include "mailhost/model/ItemClass.h"
#include "pstgen/DescriptionReader.h"
#include "pstgen/PstWriter.h"
#include "sources/SourceList.h"
#include "testsupport/AppTestSupport.h"
#include "testsupport/TestPaths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include <map>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

namespace {

QString sha256(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// The saved name of a described attachment, as the program names files.
QString savedName(const pstgen::WrittenAttachment& a)
{
    const auto given = [](const std::optional<QString>& s) { return s && !s->isEmpty(); };
    if (a.method == pstgen::Attachment::EmbeddedMessage)
        return (given(a.displayName) ? *a.displayName : a.subject) + u".msg"_s;
    return given(a.fileName) ? *a.fileName : given(a.shortFileName) ? *a.shortFileName : *a.displayName;
}

// A name with a number put before its extension ("a3.txt" for "a.txt").
bool isNumberedFrom(const QString& name, const QString& original)
{
    const qsizetype dot = original.lastIndexOf(u'.');
    const QString base = dot > 0 ? original.left(dot) : original;
    const QString extension = dot > 0 ? original.mid(dot) : QString();
    if (!name.startsWith(base) || !name.endsWith(extension) || name.size() <= original.size())
        return false;
    bool number = false;
    name.mid(base.size(), name.size() - base.size() - extension.size()).toUInt(&number);
    return number;
}

using NewUser = WindowTest;

} // namespace

TEST_F(NewUser, TheSampleFilesGiveEveryAttachmentOfTheirMailByteForByte)
{
    const QDir samples(runtimeDir() + u"/Samples"_s);
    const QDir descriptions(sourceDir() + u"/tools/pstgen/samples"_s);
    QStringList chosen;
    std::multiset<QString> wantedBytes;
    QStringList wantedNames;
    int wantedMessages = 0;
    for (const QString& name : descriptions.entryList({u"*.json"_s}, QDir::Files)) {
        // What the description says, checked to be what ships.
        auto description = pstgen::DescriptionReader::readFile(descriptions.filePath(name));
        ASSERT_TRUE(description.ok());
        QTemporaryDir again;
        pstgen::WriteOptions options;
        options.hashAttachments = true;
        auto report = pstgen::PstWriter::write(*description, again.filePath(u"again.pst"_s), options);
        ASSERT_TRUE(report.ok());
        const QString shipped = samples.filePath(QFileInfo(name).completeBaseName() + u".pst"_s);
        ASSERT_EQ(readFile(again.filePath(u"again.pst"_s)), readFile(shipped)) << shipped.toStdString();
        chosen << shipped;
        for (const auto& a : report->attachmentList) {
            const bool belowSkipped = a.folder.size() > 1
                && (a.folder.front() == u"All Public Folders"_s || a.folder.front() == u"Internet Newsgroups"_s);
            if (a.depth != 0 || a.folder.isEmpty() || belowSkipped
                || mailhost::itemClassOf(a.messageClass) != mailhost::kMailItemClass)
                continue;
            wantedNames << savedName(a);
            if (a.method == pstgen::Attachment::EmbeddedMessage)
                ++wantedMessages;
            else
                wantedBytes.insert(QString::fromLatin1(a.sha256.toHex()));
        }
    }
    ASSERT_EQ(chosen.size(), 3);

    startForm();
    desktop.answerOpenFiles(chosen);
    form->PushButton1->click();
    ASSERT_EQ(sourceCount(*form), 3);
    QTemporaryDir out;
    form->setOptionSelected(form->Option1, true);
    form->Text1->setText(out.path() + u'/');
    desktop.expectMessage();
    form->PushButton2->click();
    EXPECT_EQ(desktop.messages(), QStringList{u"Done."_s});
    EXPECT_TRUE(desktop.errorReports().isEmpty()) << desktop.errorReports().join(u'\n').toStdString();

    std::multiset<QString> gotBytes;
    int gotMessages = 0;
    for (const QFileInfo& file : QDir(out.path()).entryInfoList(QDir::Files)) {
        const QByteArray bytes = readFile(file.filePath());
        if (file.suffix() == u"msg"_s && bytes.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"))
            ++gotMessages;
        else
            gotBytes.insert(sha256(bytes));
        const QString name = file.fileName();
        EXPECT_TRUE(std::any_of(wantedNames.begin(), wantedNames.end(), [&](const QString& w) {
            return name == w || isNumberedFrom(name, w);
        })) << name.toStdString();
    }
    EXPECT_EQ(gotBytes, wantedBytes);
    EXPECT_EQ(gotMessages, wantedMessages);
    EXPECT_GT(wantedMessages, 0);
}
