#include "KnownMailbox.h"

#include "pstgen/PstWriter.h"

#include <gtest/gtest.h>

namespace parcelon::test {

using namespace Qt::StringLiterals;
using namespace pstgen::fixtures;

QByteArray contentOf(const QString& tag)
{
    return (u"content of "_s + tag + u'\n').toUtf8().repeated(3);
}

pstgen::Description knownMailbox()
{
    const auto mail = [](const QString& subject, const char16_t* name, const QString& tag,
                         const QString& messageClass = u"IPM.Note"_s) {
        return message(subject, {text(QString::fromUtf16(name), contentOf(tag))}, messageClass);
    };
    pstgen::Description d;
    d.storeName = u"Known"_s;
    d.root.items = {mail(u"at the top"_s, u"root.txt", u"root"_s)};
    d.root.folders = {
        folder(u"Inbox"_s,
               {message(u"two reports"_s,
                        {text(u"report.pdf"_s, contentOf(u"first report"_s)),
                         text(u"report.pdf"_s, contentOf(u"second report"_s))}),
                mail(u"notes"_s, u"notes.txt", u"notes"_s), mail(u"meeting"_s, u"agenda.txt", u"agenda"_s, u"IPM.Appointment"_s)},
               {folder(u"Projects"_s, {mail(u"plan"_s, u"plan.xlsx", u"plan"_s)})}),
        folder(u"All Public Folders"_s, {mail(u"public"_s, u"public.txt", u"public"_s)},
               {folder(u"Deep"_s, {mail(u"deep"_s, u"deep.txt", u"deep"_s)})}),
    };
    return d;
}

void writeMailbox(const pstgen::Description& description, const QString& path)
{
    auto written = pstgen::PstWriter::write(description, path);
    ASSERT_TRUE(written.ok()) << written.error().message().toStdString();
}

} // namespace parcelon::test
