#include "Mailboxes.h"
#include "PeerTools.h"
#include "PstFileCheck.h"

#include "pstgen/PstWriter.h"
#include "testsupport/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

using namespace parcelon;
using namespace parcelon::pstgen;
using namespace parcelon::pstgen::fixtures;
using parcelon::test::ExtractedSet;

namespace {

WriteOptions hashed()
{
    WriteOptions o;
    o.hashAttachments = true;
    return o;
}

WriteReport writeOrFail(const Description& d, const QString& path)
{
    auto report = PstWriter::write(d, path, hashed());
    EXPECT_TRUE(report.ok()) << (report.ok() ? std::string() : report.error().message().toStdString());
    return report.ok() ? *report : WriteReport();
}

void expectSound(const test::PstFileFacts& facts)
{
    EXPECT_TRUE(facts.problems.isEmpty()) << facts.problems.mid(0, 10).join(QLatin1Char('\n')).toStdString();
}

// pffexport writes names outside the Basic Multilingual Plane wrongly; such
// names are compared without their text.
ExtractedSet blankNonBmpNames(const ExtractedSet& set)
{
    ExtractedSet out;
    for (test::Extracted e : set) {
        if (std::any_of(e.name.begin(), e.name.end(), [](QChar c) { return c.isSurrogate(); }))
            e.name = QStringLiteral("(outside the BMP)");
        out.insert(e);
    }
    return out;
}

bool isMail(const WrittenAttachment& a)
{
    return a.messageClass == u"IPM.Note" || a.messageClass.startsWith(QStringLiteral("IPM.Note."));
}

// Both peer tools extract every attachment with the described bytes.
// pffexport names the attachments it finds by their long file name (and
// invents one otherwise), readpst saves the non-empty attachments of mail
// messages, inlining embedded messages.
// In ANSI files the peers read every 8-bit name in Windows-1252, whatever
// code page its message names: `ansi` compares other names without their text.
void expectPeersAgree(const QString& pst, const WriteReport& report, const QString& pffSpoils = QString(), bool ansi = false)
{
    const auto comparable = [&](const ExtractedSet& set) {
        if (!ansi)
            return blankNonBmpNames(set);
        ExtractedSet out;
        for (test::Extracted e : set) {
            if (std::any_of(e.name.begin(), e.name.end(), [](QChar c) { return c.unicode() > 0xFF; }))
                e.name = QStringLiteral("(outside Windows-1252)");
            out.insert(e);
        }
        return out;
    };
    QTemporaryDir work;
    if (test::peerTool(QStringLiteral("pffexport"))) {
        const auto keep = [&](const WrittenAttachment& a) {
            return (a.method == Attachment::ByValue || a.method == Attachment::Ole) && a.fileName != pffSpoils;
        };
        ExtractedSet got = test::pffexportAttachments(pst, work.path());
        std::erase_if(got, [&](const test::Extracted& e) { return !pffSpoils.isEmpty() && e.name == pffSpoils; });
        const auto named = [](const WrittenAttachment& a) { return a.fileName && !a.fileName->isEmpty(); };
        EXPECT_EQ(test::withoutNames(got), test::withoutNames(test::describedAttachments(report, keep)));
        ExtractedSet gotNamed;
        for (const auto& e : got)
            if (!e.name.startsWith(QStringLiteral("Attachment")))
                gotNamed.insert(e);
        EXPECT_EQ(comparable(gotNamed),
                  comparable(test::describedAttachments(report, [&](const auto& a) { return keep(a) && named(a); })));
    } else {
        std::cout << "[ SKIPPED  ] pffexport is not installed (Debian package pff-tools)\n";
    }
    if (test::peerTool(QStringLiteral("readpst"))) {
        // readpst names files with the 8-bit names as stored, which are read
        // back here as UTF-8: names in other code pages cannot be compared.
        const auto readable = [&](const WrittenAttachment& a) {
            return !ansi || a.codePage == 65001 || !a.fileName
                || std::all_of(a.fileName->begin(), a.fileName->end(), [](QChar c) { return c.unicode() < 0x80; });
        };
        const auto keep = [&](const WrittenAttachment& a) {
            return isMail(a) && a.depth == 0 && a.size > 0 && (a.method == Attachment::ByValue || a.method == Attachment::Ole)
                && readable(a);
        };
        ExtractedSet got = test::readpstAttachments(pst, work.path());
        ExtractedSet named;
        for (const auto& e : got)
            if (!e.name.startsWith(QStringLiteral("attach")))
                named.insert(e);
        EXPECT_EQ(test::withoutNames(got), test::withoutNames(test::describedAttachments(report, keep)));
        EXPECT_EQ(named, test::describedAttachments(report, [&](const auto& a) { return keep(a) && a.fileName; }));
    } else {
        std::cout << "[ SKIPPED  ] readpst is not installed (Debian package pst-utils)\n";
    }
}

std::string variantName(Format format, pst::Encoding encoding)
{
    static const char* const encodings[] = {"None", "Permute", "Cyclic"};
    return std::string(format == Format::Unicode4k  ? "Unicode4k"
                           : format == Format::Ansi ? "Ansi"
                                                    : "Unicode")
        + encodings[int(encoding)];
}

class EveryVariant : public ::testing::TestWithParam<std::tuple<Format, pst::Encoding>> {};

TEST_P(EveryVariant, FileIsSoundAndPeersExtractTheDescribedBytes)
{
    const auto [format, encoding] = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("edge.pst"));
    const WriteReport report = writeOrFail(edgeDescription(format, encoding), path);

    const test::PstFileFacts facts = test::checkPstFile(path);
    expectSound(facts);
    EXPECT_EQ(facts.version, format == Format::Unicode4k ? 36 : format == Format::Ansi ? 14 : 23);
    EXPECT_EQ(facts.encoding, int(encoding));
    EXPECT_TRUE(facts.hasXBlock);
    EXPECT_EQ(facts.hasXXBlock, format != Format::Unicode4k); // 9 MB needs two levels only with 8 KiB blocks
    // Compressing after the cyclic code gains nothing: those blocks stay as they are.
    if (encoding != pst::Encoding::Cyclic) {
        EXPECT_EQ(facts.compressedBlocks > 0, format == Format::Unicode4k);
    }
    EXPECT_EQ(report.messages, 14u);
    EXPECT_EQ(report.attachments, 29u);

    // In permute-encoded 4 KiB files libpff decodes only as many bytes of a
    // compressed block of a multi-block value as were stored, so it spoils
    // the one such value here; readpst reads it.
    const bool pffDecodesShort = format == Format::Unicode4k && encoding == pst::Encoding::Permute;
    expectPeersAgree(path, report, pffDecodesShort ? QStringLiteral("many-blocks.txt") : QString(), format == Format::Ansi);
}

INSTANTIATE_TEST_SUITE_P(FormatsAndEncodings, EveryVariant,
                         ::testing::Combine(::testing::Values(Format::Unicode, Format::Unicode4k, Format::Ansi),
                                            ::testing::Values(pst::Encoding::None, pst::Encoding::Permute,
                                                              pst::Encoding::Cyclic)),
                         [](const auto& info) { return variantName(std::get<0>(info.param), std::get<1>(info.param)); });

TEST(PstWriter, SameDescriptionGivesTheSameBytes)
{
    QTemporaryDir dir;
    Description d = edgeDescription(Format::Unicode, pst::Encoding::Cyclic);
    writeOrFail(d, dir.filePath(QStringLiteral("a.pst")));
    writeOrFail(d, dir.filePath(QStringLiteral("b.pst")));
    d.seed = 43;
    const WriteReport other = writeOrFail(d, dir.filePath(QStringLiteral("c.pst")));
    const QByteArray a = test::readFile(dir.filePath(QStringLiteral("a.pst")));
    EXPECT_FALSE(a.isEmpty());
    EXPECT_EQ(a, test::readFile(dir.filePath(QStringLiteral("b.pst"))));
    // Another seed: another store key, other random contents, same tree.
    EXPECT_NE(a, test::readFile(dir.filePath(QStringLiteral("c.pst"))));
    EXPECT_EQ(other.attachments, 29u);
}

TEST(PstWriter, MessageWithHundredsOfAttachmentsUsesAnIndexedSubnodeTree)
{
    QTemporaryDir dir;
    Description d;
    d.encoding = pst::Encoding::Cyclic;
    Attachment a = file(QStringLiteral("part{attachment:3}.bin"), Content::random(3, Range{1, 4000}));
    a.repeat = Range::fixed(400);
    d.root.folders = {folder(QStringLiteral("Many"), {message(QStringLiteral("400 attachments"), {a})})};
    const QString path = dir.filePath(QStringLiteral("many.pst"));
    const WriteReport report = writeOrFail(d, path);
    ASSERT_EQ(report.attachmentList.size(), 400u);
    EXPECT_EQ(*report.attachmentList.back().fileName, QStringLiteral("part400.bin"));

    const test::PstFileFacts facts = test::checkPstFile(path);
    expectSound(facts);
    EXPECT_TRUE(facts.hasSIBlock);
    EXPECT_TRUE(facts.rowMatrixInSubnode); // 400 rows of the attachment table
    // readpst drops every attachment of a message whose subnodes need an
    // index block; pffexport reads them all.
    if (!test::peerTool(QStringLiteral("pffexport")))
        GTEST_SKIP() << "pffexport is not installed (Debian package pff-tools)";
    QTemporaryDir work;
    EXPECT_EQ(test::pffexportAttachments(path, work.path()),
              test::describedAttachments(report, [](const auto&) { return true; }));
}

class LargeFolder : public ::testing::TestWithParam<std::tuple<Format, pst::Encoding, int>> {};

TEST_P(LargeFolder, ContentsTableSpansManyHeapBlocks)
{
    const auto [format, encoding, count] = GetParam();
#ifdef PARCELON_SANITIZED
    if (format == Format::Ansi)
        GTEST_SKIP() << "the ANSI variant runs in the plain build";
#endif
    QTemporaryDir dir;
    Description d;
    d.format = format;
    d.encoding = encoding;
    Item item = message(QStringLiteral("Message {item:4} of a folder with thousands"),
                        {file(QStringLiteral("file{item}.txt"), Content::random(8, Range{0, 600}, Content::Style::Text))});
    item.repeat = Range::fixed(std::uint64_t(count));
    d.root.folders = {folder(QStringLiteral("Thousands"), {item})};
    const QString path = dir.filePath(QStringLiteral("large.pst"));
    const WriteReport report = writeOrFail(d, path);
    EXPECT_EQ(report.messages, std::uint64_t(count));

    const test::PstFileFacts facts = test::checkPstFile(path);
    expectSound(facts);
    EXPECT_GE(facts.largestHeapBlocks, 9u); // past the fill-level bitmap block 8
    EXPECT_TRUE(facts.rowIndexWithLevels);
    EXPECT_TRUE(facts.rowMatrixInSubnode);
    EXPECT_GE(facts.nodeTreeLevels, 2);
    expectPeersAgree(path, report);
}

// Enough rows that the heap passes block 8 (pffexport takes long over many
// messages with 8 KiB blocks).
INSTANTIATE_TEST_SUITE_P(Variants, LargeFolder,
                         ::testing::Values(std::make_tuple(Format::Unicode, pst::Encoding::Permute, 2000),
                                           std::make_tuple(Format::Ansi, pst::Encoding::Cyclic, 2000),
                                           std::make_tuple(Format::Unicode4k, pst::Encoding::None, 3000)),
                         [](const auto& info) { return variantName(std::get<0>(info.param), std::get<1>(info.param)); });

TEST(PstWriter, NeverReplacesAFileAndLeavesNothingBehindOnFailure)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.pst"));
    test::writeFile(path, "keep me");
    const auto refused = PstWriter::write(Description(), path);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().kind(), pst::ErrorKind::Exists);
    EXPECT_EQ(test::readFile(path), QByteArray("keep me"));

    // A content file that vanished before writing: an error that names it,
    // and no file (not even a partial one) in the folder.
    Description d;
    d.root.folders = {
        folder(QStringLiteral("Inbox"),
               {message(QStringLiteral("x"),
                        {file(QStringLiteral("gone.bin"), Content::fromFile(dir.filePath(QStringLiteral("gone.bin"))))})})};
    const QString second = dir.filePath(QStringLiteral("second.pst"));
    const auto failed = PstWriter::write(d, second);
    ASSERT_FALSE(failed.ok());
    EXPECT_TRUE(failed.error().message().contains(QStringLiteral("gone.bin")));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("out.pst")});

    const auto noFolder = PstWriter::write(Description(), dir.filePath(QStringLiteral("missing/out.pst")));
    EXPECT_FALSE(noFolder.ok());
}

} // namespace

TEST(PstWriter, AnsiTextOutsideItsCodePageFailsTheRun)
{
    QTemporaryDir dir;
    Description d;
    d.format = Format::Ansi;
    d.root.folders = {folder(QStringLiteral("日本"), {})};
    const auto failed = PstWriter::write(d, dir.filePath(QStringLiteral("a.pst")));
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().kind(), pst::ErrorKind::Unsupported);
    EXPECT_TRUE(failed.error().message().contains(QStringLiteral("\"日本\" cannot be written in code page 1252")))
        << failed.error().message().toStdString();
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());

    d.codePage = 932; // the same name in a Japanese code page
    EXPECT_TRUE(PstWriter::write(d, dir.filePath(QStringLiteral("b.pst"))).ok());
}
