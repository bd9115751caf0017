#include "PstFileCheck.h"

#include "pstgen/DescriptionReader.h"
#include "pstgen/PstWriter.h"
#include "testsupport/TestPaths.h"

#include <QDir>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace parcelon;
using namespace parcelon::pstgen;

namespace {

Description parse(const QByteArray& json, const QString& baseDir = QString())
{
    auto d = DescriptionReader::read(json, baseDir);
    EXPECT_TRUE(d.ok()) << (d.ok() ? std::string() : d.error().message().toStdString());
    return d.ok() ? *d : Description();
}

QString errorOf(const QByteArray& json)
{
    auto d = DescriptionReader::read(json, QDir::tempPath());
    return d.ok() ? QString() : d.error().message();
}

TEST(DescriptionReader, ReadsEveryKindOfElement)
{
    QTemporaryDir dir;
    test::writeFile(dir.filePath(QStringLiteral("data/logo.png")), "PNG bytes");
    const Description d = parse(R"({
      "format": "unicode4k", "encoding": "cyclic", "storeName": "Mail", "seed": 12, "baseTime": "2023-05-06T07:08:09",
      "root": {"items": [{"subject": "top"}], "folders": [
        {"name": "Inbox", "containerClass": "IPF.Note", "repeat": {"min": 2, "max": 5}, "items": [
          {"class": "IPM.Appointment", "subject": "Meet", "senderName": "Ann", "senderEmail": "ann@example.com",
           "body": "text", "htmlBody": "<p>x</p>", "submitTime": "2024-01-02T03:04:05+01:00", "repeat": 3,
           "recipients": [{"name": "Bob", "email": "bob@example.com"}, {"name": "Cy", "email": "cy@example.com", "type": "bcc"}],
           "attachments": [
             {"fileName": "Annual report 2024.pdf", "content": {"text": "pdf"}, "hidden": true, "inline": true,
              "contentId": "x@y", "mimeType": "application/pdf", "attachSize": 99},
             {"fileName": "plain.txt", "shortFileName": null, "displayName": "Shown", "content": {"base64": "aGVsbG8="}},
             {"displayName": "only", "content": {"file": "data/logo.png"}},
             {"method": 6, "content": {"random": {"seed": 5, "size": {"min": 10, "max": 20}, "style": "text"}}},
             {"method": 2, "fileName": "link.doc", "path": "//server/link.doc"},
             {"embedded": {"subject": "Inner"}, "repeat": {"min": 0, "max": 2}}]}]}]}})",
                                dir.path());
    EXPECT_EQ(d.format, Format::Unicode4k);
    EXPECT_EQ(d.encoding, pst::Encoding::Cyclic);
    EXPECT_EQ(d.storeName, QStringLiteral("Mail"));
    EXPECT_EQ(d.seed, 12u);
    EXPECT_EQ(d.baseTime, QDateTime(QDate(2023, 5, 6), QTime(7, 8, 9), Qt::UTC)); // no offset: UTC
    EXPECT_EQ(d.root.name, QStringLiteral("Top of Outlook data file"));
    ASSERT_EQ(d.root.items.size(), 1u);
    ASSERT_EQ(d.root.folders.size(), 1u);

    const Folder& inbox = d.root.folders[0];
    EXPECT_EQ(inbox.repeat.min, 2u);
    EXPECT_EQ(inbox.repeat.max, 5u);
    const Item& item = inbox.items.at(0);
    EXPECT_EQ(item.messageClass, QStringLiteral("IPM.Appointment"));
    EXPECT_EQ(item.repeat.min, 3u);
    EXPECT_EQ(item.submitTime->toUTC(), QDateTime(QDate(2024, 1, 2), QTime(2, 4, 5), Qt::UTC));
    EXPECT_FALSE(item.deliveryTime.has_value());
    ASSERT_EQ(item.recipients.size(), 2u);
    EXPECT_EQ(item.recipients[0].type, Recipient::Type::To);
    EXPECT_EQ(item.recipients[1].type, Recipient::Type::Bcc);

    ASSERT_EQ(item.attachments.size(), 6u);
    const Attachment& pdf = item.attachments[0];
    EXPECT_EQ(pdf.method, 1u);
    EXPECT_TRUE(pdf.shortFromFileName); // derived from the long name as written
    EXPECT_FALSE(pdf.shortFileName.has_value());
    EXPECT_EQ(*pdf.displayName, QStringLiteral("Annual report 2024.pdf"));
    EXPECT_EQ(*pdf.extension, QStringLiteral(".pdf"));
    EXPECT_TRUE(pdf.hidden);
    EXPECT_TRUE(pdf.inlined);
    EXPECT_EQ(*pdf.attachSize, 99u);
    EXPECT_EQ(pdf.content.bytes, QByteArray("pdf"));

    const Attachment& plain = item.attachments[1];
    EXPECT_FALSE(plain.shortFileName.has_value()); // null leaves it out
    EXPECT_FALSE(plain.shortFromFileName);
    EXPECT_EQ(*plain.displayName, QStringLiteral("Shown"));
    EXPECT_EQ(plain.content.bytes, QByteArray("hello"));

    const Attachment& onlyDisplay = item.attachments[2];
    EXPECT_FALSE(onlyDisplay.fileName.has_value());
    EXPECT_FALSE(onlyDisplay.shortFileName.has_value());
    EXPECT_EQ(onlyDisplay.content.source, Content::Source::File);
    EXPECT_EQ(onlyDisplay.content.path, dir.filePath(QStringLiteral("data/logo.png")));

    const Attachment& ole = item.attachments[3];
    EXPECT_EQ(ole.method, 6u);
    EXPECT_EQ(ole.content.source, Content::Source::Random);
    EXPECT_EQ(ole.content.seed, 5u);
    EXPECT_EQ(ole.content.size.max, 20u);
    EXPECT_EQ(ole.content.style, Content::Style::Text);

    EXPECT_EQ(*item.attachments[4].path, QStringLiteral("//server/link.doc"));
    const Attachment& inner = item.attachments[5];
    EXPECT_EQ(inner.method, 5u);
    ASSERT_TRUE(inner.embedded);
    EXPECT_EQ(*inner.displayName, QStringLiteral("Inner")); // the embedded message's subject
    EXPECT_EQ(inner.repeat.max, 2u);
}

TEST(DescriptionReader, AnsiFilesAndTheirCodePages)
{
    const Description d = parse(R"({"format": "ansi", "codePage": 1250,
                                    "root": {"items": [{"subject": "a", "codePage": 932}, {"subject": "b"}]}})");
    EXPECT_EQ(d.format, Format::Ansi);
    EXPECT_EQ(d.codePage, 1250);
    ASSERT_EQ(d.root.items.size(), 2u);
    EXPECT_EQ(d.root.items[0].codePage, 932);
    EXPECT_FALSE(d.root.items[1].codePage);
    EXPECT_EQ(parse("{}").codePage, 1252);
}

TEST(DescriptionReader, TemplatesAreMergedUnderTheirUsers)
{
    const Description d = parse(R"({
      "templates": {"mail": {"subject": "Report {item}", "senderName": "Ann", "attachments": [{"use": "pdf"}]},
                    "pdf": {"fileName": "r.pdf", "content": {"text": "x"}},
                    "urgent": {"use": "mail", "subject": "URGENT"}},
      "root": {"folders": [{"name": "A", "items": [{"use": "mail", "repeat": 7}, {"use": "urgent", "senderName": "Bo"}]}]}})");
    const auto& items = d.root.folders.at(0).items;
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].subject, QStringLiteral("Report {item}"));
    EXPECT_EQ(items[0].repeat.min, 7u);
    EXPECT_EQ(*items[0].attachments.at(0).fileName, QStringLiteral("r.pdf"));
    EXPECT_EQ(items[1].subject, QStringLiteral("URGENT"));
    EXPECT_EQ(items[1].senderName, QStringLiteral("Bo"));
    EXPECT_EQ(items[1].attachments.size(), 1u);
}

TEST(DescriptionReader, ErrorsSayWhatIsWrongAndWhere)
{
    const std::pair<const char*, const char*> cases[] = {
        {"[1, 2]", "a description is a JSON object"},
        {"{\"root\": ", "not valid JSON"},
        {R"({"formt": "unicode"})", "\"formt\" is not a known key"},
        {R"({"format": "ansi4k"})", "description.format: \"ansi4k\" is not"},
        {R"({"codePage": 1})", "description.codePage: code page 1 is not known"},
        {R"({"root": {"items": [{"codePage": "cp1251"}]}})", "root.items[0].codePage: a whole number"},
        {R"({"encoding": 1})", "description.encoding: a text is expected"},
        {R"({"seed": -3})", "description.seed: a whole number"},
        {R"({"seed": 1.5})", "description.seed: a whole number"},
        {R"({"baseTime": "yesterday"})", "description.baseTime: a date and time"},
        {R"({"root": {"folders": [{"items": []}]}})", "root.folders[0]: a folder needs a \"name\""},
        {R"({"root": {"folders": [{"name": "A", "repeat": {"min": 3, "max": 1}}]}})", "root.folders[0].repeat: \"max\" is less"},
        {R"({"root": {"items": [{"subject": "s", "attachments": [{"fileName": "a"}]}]}})",
         "root.items[0].attachments[0]: an attachment of method 1 needs \"content\""},
        {R"({"root": {"items": [{"attachments": [{"method": 5}]}]}})", "method 5 needs \"embedded\""},
        {R"({"root": {"items": [{"attachments": [{"content": {"base64": "@@@"}}]}]}})", "content.base64: not valid base64"},
        {R"({"root": {"items": [{"attachments": [{"content": {"file": "no/such/file"}}]}]}})", "is not a readable file"},
        {R"({"root": {"items": [{"attachments": [{"content": {"text": "a", "base64": "YQ=="}}]}]}})", "exactly one of"},
        {R"({"root": {"items": [{"attachments": [{"content": {"random": {"seed": 1}}}]}]}})", "random content needs a \"size\""},
        {R"({"root": {"items": [{"recipients": [{"type": "from"}]}]}})", "recipients[0].type: \"from\" is not"},
        {R"({"root": {"items": [{"use": "missing"}]}})", "root.items[0].use: there is no template \"missing\""},
        {R"({"templates": {"a": {"use": "b"}, "b": {"use": "a"}}, "root": {"items": [{"use": "a"}]}})", "in a circle"},
    };
    for (const auto& [json, expected] : cases) {
        const QString error = errorOf(json);
        EXPECT_TRUE(error.contains(QString::fromUtf8(expected))) << json << "\n  gave: " << error.toStdString();
    }
}

TEST(DescriptionReader, ShortFileNamesFollowTheEightDotThreeRule)
{
    EXPECT_EQ(DescriptionReader::shortFileName(QStringLiteral("jpg.jpg")), QStringLiteral("jpg.jpg"));
    EXPECT_EQ(DescriptionReader::shortFileName(QStringLiteral("README")), QStringLiteral("README"));
    EXPECT_EQ(DescriptionReader::shortFileName(QStringLiteral("leah_thompson.jpg")), QStringLiteral("leah_t~1.jpg"));
    EXPECT_EQ(DescriptionReader::shortFileName(QStringLiteral("Annual report.docx")), QStringLiteral("Annual~1.doc"));
    EXPECT_EQ(DescriptionReader::shortFileName(QStringLiteral("a.b.c.txt")), QStringLiteral("abc~1.txt"));
    EXPECT_EQ(DescriptionReader::shortFileName(QStringLiteral("отчёт.pdf")), QStringLiteral("_____~1.pdf"));
}

// Repeats, drawn counts and counters, seen through what the writer reports.
TEST(DescriptionReader, ShortNamesFollowTheLongNamesAsWritten)
{
    auto d = DescriptionReader::read(R"({"root": {"folders": [{"name": "Inbox", "items": [
        {"repeat": 2, "attachments": [{"fileName": "image{item:3}.png", "content": {"text": "x"}},
                                      {"fileName": "Annual report {item}.pdf", "content": {"text": "y"}}]}]}]}})",
                                     QString());
    ASSERT_TRUE(d.ok()) << d.error().message().toStdString();
    QTemporaryDir dir;
    auto report = PstWriter::write(*d, dir.filePath(QStringLiteral("short.pst")));
    ASSERT_TRUE(report.ok());
    QStringList names;
    for (const auto& a : report->attachmentList)
        names << a.shortFileName.value_or(QString());
    EXPECT_EQ(names,
              (QStringList{QStringLiteral("image001.png"), QStringLiteral("Annual~1.pdf"), QStringLiteral("image002.png"),
                           QStringLiteral("Annual~1.pdf")}));
}

TEST(Expansion, CopiesAndCountersFollowTheDescription)
{
    const Description d = parse(R"({"seed": 5, "root": {"folders": [
      {"name": "Box {folder}", "repeat": 2, "folders": [{"name": "Inner", "items": [
        {"subject": "Mail {folder}.{item:2} #{message}", "repeat": {"min": 2, "max": 6}, "attachments": [
          {"fileName": "img{attachment:3}-{item}.png", "repeat": {"min": 1, "max": 3}, "content": {"random": {"size": {"min": 5, "max": 9}}}},
          {"fileName": "fixed {folder}.txt", "content": {"text": "x"}}]}]}]}]}})");
    QTemporaryDir dir;
    const auto report = PstWriter::write(d, dir.filePath(QStringLiteral("x.pst")));
    ASSERT_TRUE(report.ok()) << report.error().message().toStdString();

    std::map<std::uint64_t, std::vector<const WrittenAttachment*>> byMessage;
    QSet<QString> folders;
    for (const auto& a : report->attachmentList) {
        byMessage[a.message].push_back(&a);
        folders.insert(a.folder.join(QLatin1Char('/')));
    }
    EXPECT_EQ(folders, (QSet<QString>{QStringLiteral("Box 1/Inner"), QStringLiteral("Box 2/Inner")}));
    EXPECT_GE(report->messages, 4u);
    EXPECT_LE(report->messages, 12u);
    EXPECT_EQ(byMessage.size(), report->messages);
    EXPECT_EQ(byMessage.begin()->first, 1u);
    EXPECT_EQ(byMessage.rbegin()->first, report->messages); // numbered 1..n

    std::set<std::size_t> drawnCounts;
    for (const auto& [number, attachments] : byMessage) {
        const WrittenAttachment& last = *attachments.back();
        const QString folderCopy = last.folder.first().mid(4);
        EXPECT_EQ(*last.fileName, QStringLiteral("fixed %1.txt").arg(folderCopy)); // the nearest repeated folder
        EXPECT_TRUE(last.subject.startsWith(QStringLiteral("Mail %1.").arg(folderCopy)));
        EXPECT_TRUE(last.subject.endsWith(QStringLiteral(" #%1").arg(number)));
        const std::size_t images = attachments.size() - 1;
        EXPECT_GE(images, 1u);
        EXPECT_LE(images, 3u);
        drawnCounts.insert(images);
        const QString item = last.subject.section(QLatin1Char('.'), 1).section(QLatin1Char(' '), 0, 0);
        for (std::size_t i = 0; i < images; ++i) {
            EXPECT_EQ(*attachments[i]->fileName,
                      QStringLiteral("img%1-%2.png").arg(i + 1, 3, 10, QLatin1Char('0')).arg(item.toInt()));
            EXPECT_GE(attachments[i]->size, 5u);
            EXPECT_LE(attachments[i]->size, 9u);
        }
    }
    EXPECT_GT(drawnCounts.size(), 1u); // counts are drawn, not all alike
}

// The command, and the sample files the build puts beside it.
TEST(PstgenCommand, WritesFilesAndTheirManifestAndRefusesBadInput)
{
    const QString pstgen = test::runtimeDir() + QStringLiteral("/pstgen");
    QTemporaryDir dir;
    test::writeFile(
        dir.filePath(QStringLiteral("d.json")),
        R"({"root": {"folders": [{"name": "In", "items": [{"subject": "s", "attachments": [{"fileName": "a.txt", "content": {"text": "abc"}}]}]}]}})");
    const auto run = [&](const QStringList& args, QString* output = nullptr) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(pstgen, args);
        p.waitForFinished();
        if (output)
            *output = QString::fromUtf8(p.readAll());
        return p.exitCode();
    };
    const QString pst = dir.filePath(QStringLiteral("out.pst"));
    const QString manifest = dir.filePath(QStringLiteral("out.jsonl"));
    ASSERT_EQ(run({QStringLiteral("--manifest"), manifest, dir.filePath(QStringLiteral("d.json")), pst}), 0);
    EXPECT_TRUE(test::checkPstFile(pst).problems.isEmpty());
    EXPECT_EQ(test::readFile(manifest),
              QByteArray(R"({"class":"IPM.Note","depth":0,"displayName":"a.txt","fileName":"a.txt","folder":"In","message":1,)"
                         R"("method":1,"position":0,"sha256":"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",)"
                         R"("shortFileName":"a.txt","size":3,"subject":"s"})"
                         "\n"));

    QString output;
    EXPECT_EQ(run({dir.filePath(QStringLiteral("d.json")), pst}, &output), 1);
    EXPECT_TRUE(output.contains(QStringLiteral("already exists"))) << output.toStdString();
    test::writeFile(dir.filePath(QStringLiteral("bad.json")), R"({"root": {"folder": []}})");
    EXPECT_EQ(run({dir.filePath(QStringLiteral("bad.json")), dir.filePath(QStringLiteral("bad.pst"))}, &output), 1);
    EXPECT_TRUE(output.contains(QStringLiteral("bad.json: root: \"folder\" is not a known key"))) << output.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("bad.pst"))));
}

TEST(Samples, BuiltBesideTheProgramFromTheirDescriptions)
{
    const QDir descriptions(test::sourceDir() + QStringLiteral("/tools/pstgen/samples"));
    const QStringList names = descriptions.entryList({QStringLiteral("*.json")}, QDir::Files);
    ASSERT_GE(names.size(), 2);
    QTemporaryDir dir;
    for (const QString& name : names) {
        const QString sample =
            test::runtimeDir() + QStringLiteral("/Samples/") + QFileInfo(name).completeBaseName() + QStringLiteral(".pst");
        ASSERT_TRUE(QFileInfo::exists(sample)) << sample.toStdString();
        auto d = DescriptionReader::readFile(descriptions.filePath(name));
        ASSERT_TRUE(d.ok()) << d.error().message().toStdString();
        const QString again = dir.filePath(name + QStringLiteral(".pst"));
        const auto report = PstWriter::write(*d, again);
        ASSERT_TRUE(report.ok());
        EXPECT_EQ(test::readFile(again), test::readFile(sample)) << name.toStdString() << " is not what its description gives";
        EXPECT_TRUE(test::checkPstFile(sample).problems.isEmpty()) << name.toStdString();
        EXPECT_GE(report->messages, 5u);
        EXPECT_GE(report->attachments, 5u);
    }
}

} // namespace
