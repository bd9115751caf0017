// Damaged files give everything that still checks out: roots and pages that
// check out as themselves, B-tree pages found elsewhere in the file, folder
// lists rebuilt from the node B-tree, files cut short read as far as they go.

#include "Mailboxes.h"
#include "mailhost/model/Registry.h"
#include "mailhost/pst/messaging/Folder.h"
#include "pstgen/PstWriter.h"
#include "testsupport/PstSurgery.h"
#include "testsupport/StoreWalk.h"
#include "testsupport/TestPaths.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

namespace {

QStringList described(const std::vector<SavedAttachment>& saved, bool sorted)
{
    QStringList lines;
    for (const auto& a : saved)
        lines << (a.error.isEmpty() ? u"%1/%2 %3"_s.arg(a.folder, a.fileName, a.sha256) : u"failed"_s);
    if (sorted)
        lines.sort();
    return lines;
}

class Salvage : public ::testing::Test {
protected:
    void SetUp() override
    {
        using namespace pstgen::fixtures;
        m_path = m_work.filePath(u"intact.pst"_s);
        pstgen::Description d;
        std::vector<pstgen::Item> a, b, c;
        for (int i = 0; i < 14; ++i) {
            a.push_back(
                message(u"in A %1"_s.arg(i), {random(u"a%1.bin"_s.arg(i), 3000 + 977 * i, i), text(u"a%1.txt"_s.arg(i), "a")}));
            b.push_back(message(u"in B %1"_s.arg(i), {random(u"b%1.bin"_s.arg(i), 12000 + 311 * i, 100 + i)}));
            c.push_back(message(u"in C %1"_s.arg(i), {text(u"c%1.txt"_s.arg(i), QByteArray(50 + i, 'c'))}));
        }
        d.root.folders = {folder(u"A"_s, a, {folder(u"B"_s, b)}), folder(u"C"_s, c)};
        ASSERT_TRUE(pstgen::PstWriter::write(d, m_path).ok());
        m_intact = walk(m_path);
        ASSERT_EQ(m_intact.size(), 56u);
        auto store = pst::Store::open(m_path);
        ASSERT_TRUE(store.ok());
        m_store = *store;
    }

    std::vector<SavedAttachment> walk(const QString& path, QString* mountError = nullptr)
    {
        QDir(m_out.path()).removeRecursively();
        QDir().mkpath(m_out.path());
        return mountAndSaveAll(path, m_out.path(), mountError);
    }

    std::vector<SavedAttachment> walkDamaged(const PstSurgery& surgery)
    {
        QString mountError;
        auto saved = walk(surgery.save(m_work.filePath(u"damaged-%1.pst"_s.arg(++m_copies))), &mountError);
        EXPECT_TRUE(mountError.isEmpty()) << mountError.toStdString();
        return saved;
    }

    pst::Nid folderNamed(pst::Nid parent, const QString& name) const
    {
        auto folder = pst::Folder::open(*m_store, parent, pst::Where());
        EXPECT_TRUE(folder.ok()) << folder.error().message().toStdString();
        auto subfolders = folder ? folder->subfolders() : pst::Result<std::vector<pst::Nid>>(folder.error());
        EXPECT_TRUE(subfolders.ok()) << subfolders.error().message().toStdString();
        for (pst::Nid nid : subfolders ? *subfolders : std::vector<pst::Nid>())
            if (pst::Folder::open(*m_store, nid, pst::Where())->displayName() == name)
                return nid;
        ADD_FAILURE() << "no folder " << name.toStdString();
        return 0;
    }

    // Zeroes the data block of a folder's hierarchy (0x0D) or contents (0x0E) table.
    void zeroTable(PstSurgery& surgery, pst::Nid folder, pst::Nid type) const
    {
        auto node = m_store->node((folder & ~pst::Nid(0x1F)) | type);
        ASSERT_TRUE(node.ok());
        auto block = m_store->blocks().locate(node->bidData);
        ASSERT_TRUE(block.ok());
        zero(surgery, block->ib, surgery.format().blockDiskSize(block->cb));
    }

    static void zero(PstSurgery& surgery, std::uint64_t offset, std::size_t size)
    {
        surgery.bytes().replace(static_cast<qsizetype>(offset), static_cast<qsizetype>(size),
                                QByteArray(static_cast<qsizetype>(size), '\0'));
    }

    QTemporaryDir m_work;
    QTemporaryDir m_out;
    QString m_path;
    std::shared_ptr<pst::Store> m_store;
    std::vector<SavedAttachment> m_intact;
    int m_copies = 0;
};

} // namespace

TEST_F(Salvage, RootsAndPagesThatCheckOutAreUsedWhateverNamesThem)
{
    const auto& l = PstSurgery(readFile(m_path)).format().layouts();
    const std::uint64_t nbt = l.header.root.offset + l.root.BREFNBT.offset, bbt = l.header.root.offset + l.root.BREFBBT.offset;
    for (int variant = 0; variant < 4; ++variant) {
        SCOPED_TRACE(variant);
        PstSurgery surgery(readFile(m_path));
        if (variant <= 1) { // both roots named by an id one too low
            surgery.setField(nbt, l.bref.bid, surgery.header().nodeBTree.bid - 1);
            surgery.setField(bbt, l.bref.bid, surgery.header().blockBTree.bid - 1);
            if (variant == 1)
                surgery.fixHeaderChecksums();
        } else if (variant == 2) { // the header's checksum alone
            surgery.setField(0, l.header.dwCRCPartial, surgery.field(0, l.header.dwCRCPartial) ^ 0x10);
        } else { // the block B-tree's root names its first child by another id
            const std::uint64_t root = surgery.header().blockBTree.ib;
            ASSERT_GT(surgery.pageShape(root).level, 0u);
            surgery.setField(root + l.btEntry.BREF.offset, l.bref.bid, surgery.child(root, 0).bid + 7);
            surgery.fixPageChecksum(root);
        }
        EXPECT_EQ(described(walkDamaged(surgery), false), described(m_intact, false));
    }
}

TEST_F(Salvage, ZeroedFolderTablesAreRebuiltFromTheNodeBTree)
{
    const pst::Nid a = folderNamed(m_store->ipmSubtree(), u"A"_s);
    const pst::Nid c = folderNamed(m_store->ipmSubtree(), u"C"_s);
    PstSurgery surgery(readFile(m_path));
    zeroTable(surgery, m_store->ipmSubtree(), 0x0D); // the top folder's subfolders
    zeroTable(surgery, a, 0x0D);
    zeroTable(surgery, c, 0x0E); // C's messages
    EXPECT_EQ(described(walkDamaged(surgery), true), described(m_intact, true));
}

TEST_F(Salvage, ZeroedBTreePagesCostOnlyWhatTheyHeld)
{
    {
        // Roots hold only references: every leaf is found by the scan.
        PstSurgery surgery(readFile(m_path));
        zero(surgery, surgery.header().nodeBTree.ib, surgery.format().pageSize());
        zero(surgery, surgery.header().blockBTree.ib, surgery.format().pageSize());
        EXPECT_EQ(described(walkDamaged(surgery), false), described(m_intact, false));
    }
    {
        // A leaf of the block B-tree: the blocks it listed are lost, nothing else.
        PstSurgery surgery(readFile(m_path));
        const std::uint64_t root = surgery.header().blockBTree.ib;
        const std::uint64_t count = surgery.pageShape(root).count;
        ASSERT_GE(count, 3u);
        zero(surgery, surgery.child(root, count / 2).ib, surgery.format().pageSize());
        const auto saved = walkDamaged(surgery);
        ASSERT_EQ(saved.size(), m_intact.size());
        std::size_t failed = 0;
        for (std::size_t i = 0; i < saved.size(); ++i) {
            if (saved[i].error.isEmpty())
                EXPECT_EQ(saved[i].sha256, m_intact[i].sha256);
            else
                ++failed;
        }
        EXPECT_GT(failed, 0u);
        EXPECT_LT(failed, saved.size() / 2);
    }
}

// The B-trees of an Outlook-written file lie among its blocks, so a copy cut
// short still holds most of their leaves.
TEST(CutShort, AFileCutShortIsReadAsFarAsItGoes)
{
    const auto dir = corpusPstDir();
    if (!dir)
        GTEST_SKIP() << "the PST corpus (../shared/corpus) is not present";
    const QString original = *dir + u"/2003_high-encryption_quickquick_2.pst"_s;
    QTemporaryDir work, out;
    const auto walk = [&](const QString& path) {
        QDir(out.path()).removeRecursively();
        QDir().mkpath(out.path());
        auto mapi = mailhost::Registry::global().CreateObject(mailhost::kApplicationProgId)->GetNamespace(u"MAPI"_s);
        mapi->AddStore(path);
        return saveAll(mapi->Folders()->GetLast(), out.path());
    };
    const QByteArray bytes = readFile(original);
    const auto intactSaved = walk(original);
    const QStringList intact = described(intactSaved, true);
    // What each cut gives, counted once by hand (readpst: 302, 302 and 0).
    const std::vector<std::pair<int, int>> cuts{{95, 302}, {80, 302}, {50, 221}};
    for (const auto& [percent, expected] : cuts) {
        SCOPED_TRACE(percent);
        const QString path = work.filePath(u"cut-%1.pst"_s.arg(percent));
        writeFile(path, bytes.left(bytes.size() * percent / 100));
        std::vector<SavedAttachment> saved;
        ASSERT_NO_THROW(saved = walk(path));
        int right = 0;
        for (const QString& line : described(saved, true)) {
            if (line == u"failed"_s)
                continue;
            EXPECT_TRUE(intact.contains(line)) << line.toStdString();
            ++right;
        }
        EXPECT_EQ(right, expected);
        EXPECT_TRUE(QDir(out.path()).isEmpty()) << "a failed save left a file behind";
    }
}

TEST_F(Salvage, ALeafIndexOverItsBoundReadsTheFileAgain)
{
    PstSurgery surgery(readFile(m_path));
    zero(surgery, surgery.header().nodeBTree.ib, surgery.format().pageSize());
    const QByteArray& bytes = surgery.bytes();
    pst::MemorySource source(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), u"damaged.pst"_s);
    auto header = pst::Header::read(source);
    ASSERT_TRUE(header.ok());
    // Room for one leaf: every question reads the file again.
    const pst::BTrees small(source, *header, std::make_shared<pst::LeafScan>(*header, 64));
    const pst::BTrees large(source, *header);
    std::vector<pst::NodeEntry> intact, fromLarge;
    ASSERT_TRUE(m_store->trees()
                    .forEachNode([&](const pst::NodeEntry& e) {
                        intact.push_back(e);
                        return true;
                    })
                    .ok());
    ASSERT_GT(intact.size(), 40u);
    ASSERT_TRUE(large
                    .forEachNode([&](const pst::NodeEntry& e) {
                        fromLarge.push_back(e);
                        return true;
                    })
                    .ok());
    ASSERT_EQ(fromLarge.size(), intact.size());
    for (std::size_t i = 0; i < intact.size(); i += 7) {
        auto found = small.findNode(intact[i].nid);
        ASSERT_TRUE(found.ok()) << found.error().message().toStdString();
        ASSERT_TRUE(found->has_value());
        EXPECT_EQ((*found)->bidData, intact[i].bidData);
        EXPECT_EQ(fromLarge[i].bidData, intact[i].bidData);
    }
}
