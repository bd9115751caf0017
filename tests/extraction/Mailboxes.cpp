#include "Mailboxes.h"

#include "pstgen/PstWriter.h"

#include <gtest/gtest.h>

namespace parcelon::test {

using namespace Qt::StringLiterals;

QByteArray contentOf(const QString& tag)
{
    return (u"content of "_s + tag + u'\n').toUtf8().repeated(3);
}

pstgen::Attachment attachment(const QString& fileName, const QByteArray& content)
{
    pstgen::Attachment a;
    a.fileName = fileName;
    a.content = pstgen::Content::fromBytes(content);
    return a;
}

pstgen::Item mail(const QString& subject, std::vector<pstgen::Attachment> attachments, const QString& messageClass)
{
    pstgen::Item item;
    item.messageClass = messageClass;
    item.subject = subject;
    item.senderName = u"Ann Example"_s;
    item.senderEmail = u"ann@example.org"_s;
    item.body = u"Hello."_s;
    item.attachments = std::move(attachments);
    return item;
}

pstgen::Folder folder(const QString& name, std::vector<pstgen::Item> items, std::vector<pstgen::Folder> folders)
{
    pstgen::Folder f;
    f.name = name;
    f.items = std::move(items);
    f.folders = std::move(folders);
    return f;
}

pstgen::Description knownMailbox()
{
    pstgen::Description d;
    d.storeName = u"Known"_s;
    d.root.items = {mail(u"at the top"_s, {attachment(u"root.txt"_s, contentOf(u"root"_s))})};
    d.root.folders = {
        folder(u"Inbox"_s,
               {mail(u"two reports"_s, {attachment(u"report.pdf"_s, contentOf(u"first report"_s)),
                                        attachment(u"report.pdf"_s, contentOf(u"second report"_s))}),
                mail(u"notes"_s, {attachment(u"notes.txt"_s, contentOf(u"notes"_s))}),
                mail(u"meeting"_s, {attachment(u"agenda.txt"_s, contentOf(u"agenda"_s))}, u"IPM.Appointment"_s)},
               {folder(u"Projects"_s, {mail(u"plan"_s, {attachment(u"plan.xlsx"_s, contentOf(u"plan"_s))})})}),
        folder(u"All Public Folders"_s, {mail(u"public"_s, {attachment(u"public.txt"_s, contentOf(u"public"_s))})},
               {folder(u"Deep"_s, {mail(u"deep"_s, {attachment(u"deep.txt"_s, contentOf(u"deep"_s))})})}),
    };
    return d;
}

void writeMailbox(const pstgen::Description& description, const QString& path)
{
    auto written = pstgen::PstWriter::write(description, path);
    ASSERT_TRUE(written.ok()) << written.error().description().toStdString();
}

} // namespace parcelon::test
