// Files written by pstgen come back through the engine as described: every
// folder, item, class and attachment, in all three file formats and all three
// encodings.

#include "DamageFormats.h"
#include "Mailboxes.h"
#include "mailhost/model/ItemClass.h"
#include "mailhost/model/Registry.h"
#include "pstgen/DescriptionReader.h"
#include "pstgen/PstWriter.h"
#include "testsupport/StoreWalk.h"
#include "testsupport/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <set>

using namespace parcelon;
using namespace parcelon::pstgen;
using namespace Qt::StringLiterals;

namespace {

// One attachment as a line to compare: where it is, its class, name and bytes.
QString line(const QString& folder, std::size_t item, int itemClass, const QString& name, const QString& sha)
{
    return u"%1 | item %2 | class %3 | %4 | %5"_s.arg(folder).arg(item).arg(itemClass).arg(name, sha);
}

QString expectedName(const WrittenAttachment& a)
{
    const auto given = [](const std::optional<QString>& s) { return s && !s->isEmpty(); };
    if (a.method == Attachment::EmbeddedMessage) {
        QString name = given(a.displayName) ? *a.displayName : a.subject;
        return name.endsWith(u".msg"_s, Qt::CaseInsensitive) ? name : name + u".msg"_s;
    }
    if (given(a.fileName))
        return *a.fileName;
    if (given(a.shortFileName))
        return *a.shortFileName;
    return given(a.displayName) ? *a.displayName : u"Untitled Attachment"_s;
}

// What the report says the top level of every message holds, in walk order
// of folders and items.
QStringList described(const WriteReport& report)
{
    // Items are numbered within their folder in the order they were written.
    std::map<QString, std::set<std::uint64_t>> messages;
    for (const auto& a : report.attachmentList)
        if (a.depth == 0)
            messages[a.folder.join(u'/')].insert(a.message);
    std::map<QString, QStringList> byFolder;
    for (const auto& a : report.attachmentList) {
        if (a.depth != 0)
            continue;
        const QString folder = a.folder.join(u'/');
        const auto& numbers = messages[folder];
        const auto item = static_cast<std::size_t>(std::distance(numbers.begin(), numbers.find(a.message))) + 1;
        const QString sha = a.method == Attachment::EmbeddedMessage ? u"compound file"_s : QString::fromLatin1(a.sha256.toHex());
        byFolder[folder] << line(folder, item, mailhost::itemClassOf(a.messageClass), expectedName(a), sha);
    }
    QStringList lines;
    for (auto& [folder, list] : byFolder)
        lines += list;
    return lines;
}

// What the engine gives, saved with SaveAsFile, in the same shape.
QStringList read(const QString& path, const QString& outputDir)
{
    auto mapi = mailhost::Registry::global().CreateObject(mailhost::kApplicationProgId)->GetNamespace(u"MAPI"_s);
    mapi->AddStore(path);
    auto root = mapi->Folders()->GetLast();
    std::map<QString, QStringList> byFolder;
    const auto saveItems = [&](const std::shared_ptr<mailhost::Folder>& folder, const QString& name) {
        auto items = folder->Items();
        for (std::int64_t j = 1; j <= items->count(); ++j) {
            auto attachments = items->Item(j)->Attachments();
            for (std::int64_t k = 1; k <= attachments->count(); ++k) {
                auto attachment = attachments->Item(k);
                const QString target = QDir(outputDir).filePath(QString::number(j * 1000 + k));
                attachment->SaveAsFile(target);
                const QString sha = attachment->Type() == 5
                    ? (test::readFile(target).startsWith("\xD0\xCF\x11\xE0") ? u"compound file"_s : u"?"_s)
                    : test::sha256Of(target);
                QFile::remove(target);
                byFolder[name] << line(name, static_cast<std::size_t>(j), items->Item(j)->Class(), attachment->fileName(), sha);
            }
        }
    };
    std::function<void(const std::shared_ptr<mailhost::Folder>&, const QString&)> walk = [&](const auto& folder,
                                                                                             const QString& name) {
        saveItems(folder, name);
        auto subfolders = folder->Folders();
        for (std::int64_t i = 1; i <= subfolders->count(); ++i) {
            auto sub = subfolders->Item(i);
            walk(sub, name.isEmpty() ? sub->Name() : name + u'/' + sub->Name());
        }
    };
    walk(root, QString());
    QStringList lines;
    for (auto& [folder, list] : byFolder)
        lines += list;
    return lines;
}

void expectRoundTrip(const Description& description)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"mailbox.pst"_s);
    WriteOptions options;
    options.hashAttachments = true;
    auto report = PstWriter::write(description, path, options);
    ASSERT_TRUE(report.ok()) << report.error().message().toStdString();
    QDir().mkpath(dir.filePath(u"out"_s));
    QStringList got;
    try {
        got = read(path, dir.filePath(u"out"_s));
    } catch (const std::exception& e) {
        FAIL() << e.what();
    }
    const QStringList wanted = described(*report);
    for (qsizetype i = 0; i < std::max(wanted.size(), got.size()); ++i) {
        const QString w = i < wanted.size() ? wanted[i] : u"(nothing)"_s;
        const QString g = i < got.size() ? got[i] : u"(nothing)"_s;
        ASSERT_EQ(g, w) << "first mismatch at attachment " << i + 1 << " of " << wanted.size();
    }
}

struct Variant {
    Format format;
    pst::Encoding encoding;
};

class RoundTrip : public ::testing::TestWithParam<Variant> {};

} // namespace

TEST_P(RoundTrip, EdgeCasesComeBackAsDescribed)
{
    expectRoundTrip(fixtures::edgeDescription(GetParam().format, GetParam().encoding));
}

TEST_P(RoundTrip, ThousandsOfMessagesInOneFolder)
{
#ifdef PARCELON_SANITIZED
    if (GetParam().format == Format::Ansi && GetParam().encoding != pst::Encoding::None)
        GTEST_SKIP() << "the encoded ANSI variants run in the plain build";
#endif
    Description d;
    d.format = GetParam().format;
    d.encoding = GetParam().encoding;
    Item item = fixtures::message(u"Photo {item}"_s, {fixtures::random(u"image{item:4}.png"_s, 300)});
    item.repeat = Range::fixed(9000);
    d.root.folders = {fixtures::folder(u"Photos"_s, {item})};
    expectRoundTrip(d);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, RoundTrip,
    ::testing::Values(Variant{Format::Ansi, pst::Encoding::None}, Variant{Format::Ansi, pst::Encoding::Permute},
                      Variant{Format::Ansi, pst::Encoding::Cyclic}, Variant{Format::Unicode, pst::Encoding::None},
                      Variant{Format::Unicode, pst::Encoding::Permute}, Variant{Format::Unicode, pst::Encoding::Cyclic},
                      Variant{Format::Unicode4k, pst::Encoding::None}, Variant{Format::Unicode4k, pst::Encoding::Permute},
                      Variant{Format::Unicode4k, pst::Encoding::Cyclic}),
    [](const auto& info) {
        return test::formatName(info.param.format)
            + (info.param.encoding == pst::Encoding::None          ? "None"
                   : info.param.encoding == pst::Encoding::Permute ? "Permute"
                                                                   : "Cyclic");
    });

TEST(RoundTrip, SampleFilesComeBackAsDescribed)
{
    const QDir samples(test::sourceDir() + u"/tools/pstgen/samples"_s);
    const QStringList descriptions = samples.entryList({u"*.json"_s}, QDir::Files);
    ASSERT_FALSE(descriptions.isEmpty());
    for (const QString& name : descriptions) {
        SCOPED_TRACE(name.toStdString());
        auto description = DescriptionReader::readFile(samples.filePath(name));
        ASSERT_TRUE(description.ok()) << description.error().message().toStdString();
        expectRoundTrip(*description);
    }
}
