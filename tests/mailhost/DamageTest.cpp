// Damaged files: every kind of damage gives a failure that names the
// structure, costs only the objects it touches, and never a crash.

#include "DamageFormats.h"
#include "Mailboxes.h"
#include "mailhost/model/Registry.h"
#include "mailhost/pst/bytes/Crc.h"
#include "mailhost/pst/messaging/Folder.h"
#include "mailhost/pst/messaging/Message.h"
#include "pstgen/PstWriter.h"
#include "testsupport/PstSurgery.h"
#include "testsupport/StoreWalk.h"
#include "testsupport/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

namespace {

const QString kFile = u"2003_compressable-encryption_quickbrownfox.pst"_s;

// The leaves of the first attachment stored in more than one block.
std::vector<pst::BlockEntry> multiBlockAttachment(const pst::Store& store)
{
    std::vector<pst::Nid> folders{store.ipmSubtree()};
    while (!folders.empty()) {
        const pst::Nid nid = folders.back();
        folders.pop_back();
        auto folder = pst::Folder::open(store, nid, pst::Where());
        if (!folder)
            continue;
        if (auto subs = folder->subfolders())
            folders.insert(folders.end(), subs->begin(), subs->end());
        auto messages = folder->messages();
        if (!messages)
            continue;
        for (pst::Nid m : *messages) {
            auto node = store.node(m);
            auto message = node ? pst::Message::open(store, *node, pst::Where()) : pst::Result<pst::Message>(node.error());
            if (!message)
                continue;
            auto ids = message->attachmentIds();
            for (pst::Nid a : ids ? *ids : std::vector<pst::Nid>()) {
                auto attachment = message->attachment(a, pst::Where());
                auto content = attachment ? attachment->content() : pst::Result<pst::ValueLocation>(attachment.error());
                if (content && content->tree && content->tree->leaves().size() >= 2)
                    return content->tree->leaves();
            }
        }
    }
    return {};
}

class Damage : public ::testing::Test {
protected:
    // The intact file the cases damage; empty to skip them.
    virtual QString original()
    {
        const auto dir = corpusPstDir();
        return dir ? *dir + u'/' + kFile : QString();
    }

    void SetUp() override
    {
        m_original = original();
        if (m_original.isEmpty())
            GTEST_SKIP() << "the PST corpus (../shared/corpus) is not present";
        auto store = pst::Store::open(m_original);
        ASSERT_TRUE(store.ok());
        m_leaves = multiBlockAttachment(**store);
        ASSERT_GE(m_leaves.size(), 2u);
        m_intact = walk(m_original);
        ASSERT_FALSE(m_intact.empty());
    }

    std::vector<SavedAttachment> walk(const QString& path, QString* mountError = nullptr)
    {
        return mountAndSaveAll(path, m_out.path(), mountError);
    }

    // Walks the damaged copy: exactly one attachment fails, naming `what`;
    // every other one comes out as from the intact file.
    void expectOneFailure(PstSurgery& surgery, const QString& what)
    {
        const auto damaged = walk(surgery.save(m_work.filePath(u"damaged.pst"_s)));
        ASSERT_EQ(damaged.size(), m_intact.size());
        int failures = 0;
        for (std::size_t i = 0; i < damaged.size(); ++i) {
            if (!damaged[i].error.isEmpty() && m_intact[i].error.isEmpty()) {
                ++failures;
                EXPECT_TRUE(damaged[i].error.contains(what)) << damaged[i].error.toStdString();
                EXPECT_TRUE(damaged[i].error.contains(damaged[i].fileName)) << damaged[i].error.toStdString();
            } else {
                EXPECT_EQ(damaged[i].sha256, m_intact[i].sha256) << damaged[i].fileName.toStdString();
            }
        }
        EXPECT_EQ(failures, 1);
        EXPECT_TRUE(QDir(m_out.path()).isEmpty()) << "a failed save left a file behind";
    }

    QString m_original;
    std::vector<pst::BlockEntry> m_leaves;
    std::vector<SavedAttachment> m_intact;
    QTemporaryDir m_work;
    QTemporaryDir m_out;
};

// The cases that hold for any file: the corpus file and a file of each format.
class DamageInEveryFormat : public Damage, public ::testing::WithParamInterface<std::optional<pstgen::Format>> {
protected:
    QString original() override { return GetParam() ? damageMailbox(*GetParam()) : Damage::original(); }
};

class LargeDamage : public ::testing::TestWithParam<pstgen::Format> {};
// Cases that edit the bytes of a block in place (4 KiB-page files compress them).
class UncompressedDamage : public ::testing::TestWithParam<pstgen::Format> {};

} // namespace

INSTANTIATE_TEST_SUITE_P(Files, DamageInEveryFormat,
                         ::testing::Values(std::nullopt, pstgen::Format::Ansi, pstgen::Format::Unicode,
                                           pstgen::Format::Unicode4k),
                         [](const auto& info) { return info.param ? formatName(*info.param) : std::string("Corpus"); });
INSTANTIATE_TEST_SUITE_P(Formats, LargeDamage, kEveryFormat, [](const auto& info) { return formatName(info.param); });
INSTANTIATE_TEST_SUITE_P(Formats, UncompressedDamage, ::testing::Values(pstgen::Format::Ansi, pstgen::Format::Unicode),
                         [](const auto& info) { return formatName(info.param); });

TEST_P(DamageInEveryFormat, DataBlockWithWrongChecksumFailsOnlyItsAttachment)
{
    PstSurgery surgery(readFile(m_original));
    const pst::BlockEntry& leaf = m_leaves[1];
    surgery.flipByte(leaf.ib + leaf.cb / 2);
    expectOneFailure(surgery, u"block %1 at offset %2 is damaged (checksum"_s.arg(pst::hex(leaf.bid), pst::hex(leaf.ib)));
}

TEST_P(DamageInEveryFormat, MissingBlockFailsOnlyItsAttachment)
{
    PstSurgery surgery(readFile(m_original));
    const pst::BlockEntry& leaf = m_leaves[1];
    const auto place = surgery.blockEntry(leaf.bid);
    const auto& l = surgery.format().layouts();
    surgery.setField(place.entryOffset + l.bbtEntry.BREF.offset, l.bref.bid, leaf.bid + 1);
    surgery.fixPageChecksum(place.pageOffset);
    expectOneFailure(surgery, u"block %1 is missing"_s.arg(pst::hex(leaf.bid)));
}

TEST_P(DamageInEveryFormat, BlockOfTheWrongSizeFailsOnlyItsAttachment)
{
    PstSurgery surgery(readFile(m_original));
    const pst::BlockEntry& leaf = m_leaves[1];
    const auto place = surgery.blockEntry(leaf.bid);
    surgery.setField(place.entryOffset, surgery.format().layouts().bbtEntry.cb, leaf.cb - 1);
    surgery.fixPageChecksum(place.pageOffset);
    expectOneFailure(surgery, u"is damaged"_s);
}

TEST_P(DamageInEveryFormat, BlockOutsideTheFileFailsOnlyItsAttachment)
{
    PstSurgery surgery(readFile(m_original));
    const pst::BlockEntry& leaf = m_leaves[1];
    const auto place = surgery.blockEntry(leaf.bid);
    const auto& l = surgery.format().layouts();
    surgery.setField(place.entryOffset + l.bbtEntry.BREF.offset, l.bref.ib, surgery.bytes().size() + 4096);
    surgery.fixPageChecksum(place.pageOffset);
    expectOneFailure(surgery, u"beyond the end of the file"_s);
}

TEST_P(DamageInEveryFormat, DamagedPagesAreNamed)
{
    const pst::BlockEntry& leaf = m_leaves[1];
    {
        PstSurgery surgery(readFile(m_original));
        const auto place = surgery.blockEntry(leaf.bid);
        surgery.flipByte(place.entryOffset + 2); // checksum left as it was
        const auto saved = walk(surgery.save(m_work.filePath(u"crc.pst"_s)));
        const bool named = std::any_of(saved.begin(), saved.end(), [&](const SavedAttachment& a) {
            return a.error.contains(u"block B-tree page"_s) && a.error.contains(u"at offset %1"_s.arg(pst::hex(place.pageOffset)))
                && a.error.contains(u"checksum"_s);
        });
        EXPECT_TRUE(named);
    }
    {
        PstSurgery surgery(readFile(m_original));
        const auto place = surgery.blockEntry(leaf.bid);
        const std::uint64_t trailer = place.pageOffset + surgery.format().pageTrailerOffset();
        const pst::Field wSig = surgery.format().layouts().pageTrailer.wSig;
        surgery.setField(trailer, wSig, surgery.field(trailer, wSig) ^ 0x1111);
        surgery.fixPageChecksum(place.pageOffset);
        const auto saved = walk(surgery.save(m_work.filePath(u"sig.pst"_s)));
        const bool named = std::any_of(saved.begin(), saved.end(), [&](const SavedAttachment& a) {
            return a.error.contains(u"block B-tree page"_s) && a.error.contains(u"signature"_s);
        });
        EXPECT_TRUE(named);
    }
}

TEST_P(DamageInEveryFormat, BTreeLoopIsDetected)
{
    PstSurgery surgery(readFile(m_original));
    const auto& l = surgery.format().layouts();
    const std::uint64_t root = surgery.header().nodeBTree.ib;
    const auto shape = surgery.pageShape(root);
    ASSERT_GT(shape.level, 0u) << "the node B-tree has a single page";
    // The last entry of the root points back at the root.
    const std::uint64_t bref = root + (shape.count - 1) * shape.entrySize + l.btEntry.BREF.offset;
    surgery.setField(bref, l.bref.bid, surgery.header().nodeBTree.bid);
    surgery.setField(bref, l.bref.ib, root);
    surgery.fixPageChecksum(root);
    QString mountError;
    const auto saved = walk(surgery.save(m_work.filePath(u"loop.pst"_s)), &mountError);
    // Nothing hangs, and what the loop hides is found in the leaf pages.
    EXPECT_TRUE(mountError.isEmpty()) << mountError.toStdString();
    ASSERT_EQ(saved.size(), m_intact.size());
    for (std::size_t i = 0; i < saved.size(); ++i)
        EXPECT_EQ(saved[i].sha256, m_intact[i].sha256) << saved[i].error.toStdString();
}

TEST_P(DamageInEveryFormat, TruncatedAndScrambledCopiesNeverCrash)
{
    const QByteArray original = readFile(m_original);
    const QString path = m_work.filePath(u"bad.pst"_s);
    for (qsizetype length : {qsizetype(0), qsizetype(100), qsizetype(511), qsizetype(563), qsizetype(4096), original.size() / 3,
                             original.size() / 2, original.size() - 1}) {
        QFile::remove(path);
        writeFile(path, original.left(length));
        walk(path);
    }
    QRandomGenerator random(20261208);
    for (int round = 0; round < 40; ++round) {
        QByteArray copy = original;
        for (int i = 0; i < 64; ++i)
            copy[random.bounded(static_cast<int>(copy.size()))] = static_cast<char>(random.bounded(256));
        QFile::remove(path);
        writeFile(path, copy);
        walk(path);
        QDir(m_out.path()).removeRecursively();
        QDir().mkpath(m_out.path());
    }
    SUCCEED() << "no crash, no hang";
}

TEST_P(LargeDamage, ABadBlockDeepInALargeAttachmentFailsItsSaveAndLeavesNoFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"large.pst"_s);
    pstgen::Description d;
    d.format = GetParam();
    d.root.folders = {pstgen::fixtures::folder(u"Inbox"_s,
                                               {pstgen::fixtures::message(u"Large"_s,
                                                                          {pstgen::fixtures::random(u"large.bin"_s, 5'000'000, 3),
                                                                           pstgen::fixtures::text(u"small.txt"_s, "fine")})})};
    ASSERT_TRUE(pstgen::PstWriter::write(d, path).ok());
    auto store = pst::Store::open(path);
    ASSERT_TRUE(store.ok());
    const auto leaves = multiBlockAttachment(**store);
    ASSERT_GT(leaves.size(), 60u);
    PstSurgery surgery(readFile(path));
    const pst::BlockEntry& leaf = leaves[leaves.size() * 2 / 3];
    surgery.flipByte(leaf.ib + 10);
    const QString damaged = surgery.save(dir.filePath(u"damaged.pst"_s));

    QTemporaryDir out;
    auto mapi = mailhost::Registry::global().CreateObject(mailhost::kApplicationProgId)->GetNamespace(u"MAPI"_s);
    mapi->AddStore(damaged);
    const auto saved = saveAll(mapi->Folders()->GetLast(), out.path());
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_TRUE(
        saved[0].error.contains(u"block %1 at offset %2 is damaged (checksum"_s.arg(pst::hex(leaf.bid), pst::hex(leaf.ib))))
        << saved[0].error.toStdString();
    EXPECT_TRUE(saved[1].error.isEmpty());
    EXPECT_TRUE(QDir(out.path()).isEmpty());
}

TEST_P(UncompressedDamage, AFolderListedBelowItselfIsWalkedOnce)
{
    using namespace pstgen::fixtures;
    QTemporaryDir dir;
    const QString path = dir.filePath(u"loop.pst"_s);
    pstgen::Description d;
    d.format = GetParam();
    d.encoding = pst::Encoding::None;
    d.root.folders = {folder(u"A"_s, {message(u"in A"_s, {text(u"a.txt"_s, "a")})},
                             {folder(u"B"_s, {message(u"in B"_s, {text(u"b.txt"_s, "b")})}, {folder(u"C"_s, {})})})};
    ASSERT_TRUE(pstgen::PstWriter::write(d, path).ok());
    auto store = pst::Store::open(path);
    ASSERT_TRUE(store.ok());
    const auto childNamed = [&](pst::Nid parent, const QString& name) {
        auto subfolders = pst::Folder::open(**store, parent, pst::Where())->subfolders();
        for (pst::Nid nid : *subfolders)
            if (pst::Folder::open(**store, nid, pst::Where())->displayName() == name)
                return nid;
        return pst::Nid(0);
    };
    const pst::Nid a = childNamed((*store)->ipmSubtree(), u"A"_s);
    const pst::Nid b = childNamed(a, u"B"_s);
    const pst::Nid c = childNamed(b, u"C"_s);
    ASSERT_TRUE(a && b && c);

    // B's list of subfolders names A where it named C.
    auto table = (*store)->node((b & ~pst::Nid(0x1F)) | 0x0D);
    ASSERT_TRUE(table.ok());
    PstSurgery surgery(readFile(path));
    const QByteArray from(reinterpret_cast<const char*>(&c), 4), to(reinterpret_cast<const char*>(&a), 4);
    ASSERT_GT(surgery.replace(from, to, table->bidData), 0);

    QTemporaryDir out;
    auto mapi = mailhost::Registry::global().CreateObject(mailhost::kApplicationProgId)->GetNamespace(u"MAPI"_s);
    mapi->AddStore(surgery.save(dir.filePath(u"damaged.pst"_s)));
    const auto saved = saveAll(mapi->Folders()->GetLast(), out.path());
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0].folder, u"A/B"_s);
    EXPECT_EQ(saved[1].folder, u"A"_s);
}

// A report names the file once, then each object from the folder in, then
// the damage, whatever characters the file's name holds: here a damaged
// attachment, one inside an attached message saved as .msg, and an item.
TEST(DamageReport, NamesTheFileAndEachObjectOnceWhateverTheFileIsCalled)
{
    using namespace pstgen::fixtures;
    QTemporaryDir dir;
    const QString path = dir.filePath(u"Backup: 2019, \"old\".pst"_s);
    pstgen::Description d;
    d.root.folders = {folder(u"Inbox"_s,
                             {message(u"plain"_s, {random(u"big.bin"_s, 20000)}),
                              message(u"forward"_s, {embedded(message(u"inner"_s, {random(u"in.bin"_s, 20000, 2)}))}),
                              message(u"lost"_s, {text(u"lost.txt"_s, "lost")})})};
    ASSERT_TRUE(pstgen::PstWriter::write(d, path).ok());
    auto store = pst::Store::open(path);
    ASSERT_TRUE(store.ok());
    std::vector<pst::Nid> items; // the file's only messages, in the order written
    ASSERT_TRUE((*store)->trees().forEachNode([&](const pst::NodeEntry& e) {
        if ((e.nid & 0x1F) == 0x04)
            items.push_back(e.nid);
        return true;
    }));
    ASSERT_EQ(items.size(), 3u);
    const auto attachmentOf = [](const pst::Message& message) {
        return message.attachment(message.attachmentIds().value().front(), {}).value();
    };
    const auto item = [&](std::size_t k) { return pst::Message::open(**store, (*store)->node(items[k]).value(), {}).value(); };
    const pst::BlockEntry plain = attachmentOf(item(0)).content()->tree->leaves()[1];
    const pst::BlockEntry inner = attachmentOf(attachmentOf(item(1)).embeddedMessage().value()).content()->tree->leaves()[1];

    const QByteArray original = readFile(path);
    PstSurgery surgery(original);
    surgery.flipByte(plain.ib + 10);
    surgery.flipByte(inner.ib + 10);
    surgery.setNode(items[2], 0xFFFF00, surgery.node(items[2]).bidSub);
    const QString damaged = surgery.save(dir.filePath(u"Backup: 2019, \"old\" (damaged).pst"_s));
    const auto damage = [&](const pst::BlockEntry& b) {
        const auto crc = [&](const QByteArray& bytes) {
            return pst::hex(pst::pstCrc(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()) + b.ib, b.cb)));
        };
        return u"block %1 at offset %2 is damaged (checksum %3 instead of %4)"_s.arg(pst::hex(b.bid), pst::hex(b.ib),
                                                                                     crc(original), crc(surgery.bytes()));
    };
    const auto inInbox = [&](int k) {
        return u"%1, folder \"Inbox\", item %2 (node %3)"_s.arg(damaged).arg(k + 1).arg(pst::hex(items[k]));
    };

    QTemporaryDir out;
    const auto saved = mountAndSaveAll(damaged, out.path());
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(saved[0].error,
              u"Cannot save the attachment \"big.bin\" as %1/1: %2, attachment 1: %3"_s.arg(out.path(), inInbox(0),
                                                                                            damage(plain)));
    EXPECT_EQ(saved[1].error,
              u"Cannot save the attachment \"inner.msg\" as %1/2: %2, attachment 1, the attached message, "
              u"attachment 1, property 0x37010102: %3"_s.arg(out.path(), inInbox(1), damage(inner)));
    EXPECT_EQ(saved[2].error, u"%1: block 0xFFFF00 is missing from the block B-tree"_s.arg(inInbox(2)));
    EXPECT_TRUE(QDir(out.path()).isEmpty());
}
