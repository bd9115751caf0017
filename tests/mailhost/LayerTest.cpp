// The engine's layers one at a time, on bytes pstgen's builders wrote into a
// file of each format: the span reader, the heap, the B-tree on the heap,
// the table context and the subnode tree. And read errors of the source
// reach the caller as read errors.

#include "DamageFormats.h"
#include "diagnostics/Failure.h"
#include "mailhost/model/Registry.h"
#include "mailhost/pst/blocks/DataTree.h"
#include "mailhost/pst/blocks/Header.h"
#include "mailhost/pst/blocks/SubnodeTree.h"
#include "mailhost/pst/messaging/Store.h"
#include "mailhost/pst/tables/BTreeOnHeap.h"
#include "mailhost/pst/tables/TableContext.h"
#include "pstgen/ColumnSets.h"
#include "pstgen/DataTreeWriter.h"
#include "pstgen/HeapBuilder.h"
#include "pstgen/NdbWriter.h"
#include "pstgen/PropertyTags.h"
#include "pstgen/RecordBuffer.h"
#include "pstgen/TableContextBuilder.h"
#include "testsupport/StoreWalk.h"
#include "testsupport/TestPaths.h"

#include <QTemporaryDir>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>

using namespace parcelon;
using namespace parcelon::test;
using namespace Qt::StringLiterals;

namespace {

std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed * 31 + i * 7);
    return bytes;
}

std::vector<std::uint8_t> copy(pst::Bytes bytes)
{
    return {bytes.begin(), bytes.end()};
}

// A file of one format holding what the builders put into it, opened down to
// its blocks once written.
class BuiltFile {
public:
    explicit BuiltFile(pstgen::Format format)
        : m_geometry(pstgen::Geometry::of(format)), m_ndb((m_file.open(), m_file), m_geometry, pst::Encoding::Cyclic)
    {
    }

    pstgen::NdbWriter& ndb() { return m_ndb; }
    const pstgen::Geometry& geometry() const { return m_geometry; }

    const pst::Blocks& open()
    {
        auto size = m_ndb.finish();
        EXPECT_TRUE(size.ok());
        m_file.close();
        auto source = pst::FileSource::open(m_file.fileName());
        EXPECT_TRUE(source.ok());
        m_source = std::move(*source);
        auto header = pst::Header::read(*m_source);
        EXPECT_TRUE(header.ok()) << header.error().message().toStdString();
        m_header = *header;
        m_trees = std::make_unique<pst::BTrees>(*m_source, m_header);
        m_blocks = std::make_unique<pst::Blocks>(*m_source, m_header, *m_trees);
        return *m_blocks;
    }

private:
    QTemporaryFile m_file;
    const pstgen::Geometry& m_geometry;
    pstgen::NdbWriter m_ndb;
    std::unique_ptr<pst::ByteSource> m_source;
    pst::Header m_header;
    std::unique_ptr<pst::BTrees> m_trees;
    std::unique_ptr<pst::Blocks> m_blocks;
};

pst::Heap openHeap(const pst::Blocks& blocks, std::uint64_t bid)
{
    auto tree = pst::DataTree::open(blocks, bid);
    EXPECT_TRUE(tree.ok()) << tree.error().message().toStdString();
    auto heap = pst::Heap::open(blocks, *tree, pst::Where());
    EXPECT_TRUE(heap.ok()) << heap.error().message().toStdString();
    return std::move(*heap);
}

class Layers : public ::testing::TestWithParam<pstgen::Format> {};

// Fails every read once `budget` bytes have been delivered, as a disk that
// goes away while the file is read; shared by its duplicates.
class FailingSource final : public pst::ByteSource {
public:
    FailingSource(std::shared_ptr<pst::ByteSource> inner, std::shared_ptr<std::atomic<std::int64_t>> budget)
        : m_inner(std::move(inner)), m_budget(std::move(budget))
    {
    }
    std::uint64_t size() const override { return m_inner->size(); }
    pst::Result<void> read(std::uint64_t offset, std::span<std::uint8_t> buffer) const override
    {
        if (m_budget->fetch_sub(static_cast<std::int64_t>(buffer.size())) < static_cast<std::int64_t>(buffer.size()))
            return pst::Error(pst::ErrorKind::Io, u"cannot read %1: %2"_s.arg(name(), QString::fromUtf8(std::strerror(EIO))),
                              EIO);
        return m_inner->read(offset, buffer);
    }
    const QString& name() const override { return m_inner->name(); }
    std::unique_ptr<pst::ByteSource> duplicate() const override { return std::make_unique<FailingSource>(m_inner, m_budget); }

private:
    std::shared_ptr<pst::ByteSource> m_inner;
    std::shared_ptr<std::atomic<std::int64_t>> m_budget;
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Formats, Layers, kEveryFormat, [](const auto& info) { return formatName(info.param); });

TEST(SpanReader, ReadsOnlyWithinItsBytes)
{
    const std::vector<std::uint8_t> bytes{1, 2, 3, 4, 5, 6, 7, 8, 9};
    const pst::SpanReader r(bytes);
    EXPECT_EQ(r.u16(0), 0x0201);
    EXPECT_EQ(r.u32(5), 0x09080706u);
    EXPECT_EQ(r.u64(1), 0x0908070605040302ull);
    EXPECT_EQ(r.uint(1, 4), 0x05040302u);
    EXPECT_EQ(r.uint(0, 3), 0u); // no such width
    // Past the end, partly or wholly, and offsets that would wrap around.
    EXPECT_EQ(r.u32(6), 0u);
    EXPECT_EQ(r.u64(2), 0u);
    EXPECT_EQ(r.u8(9), 0u);
    EXPECT_TRUE(r.has(9, 0));
    EXPECT_FALSE(r.has(10, 0));
    EXPECT_FALSE(r.has(1, SIZE_MAX));
    EXPECT_FALSE(r.has(SIZE_MAX, 2));
    EXPECT_TRUE(r.slice(8, 2).empty());
    EXPECT_EQ(copy(r.slice(7, 2)), (std::vector<std::uint8_t>{8, 9}));
}

TEST_P(Layers, HeapGivesEveryAllocationAcrossBlocksAndRefusesOthers)
{
    BuiltFile file(GetParam());
    // 80 KB of allocations: past block 8 (the fill-level bitmap) in 8 KiB
    // heaps, two blocks in 64 KiB ones.
    pstgen::HeapBuilder builder(file.geometry(), 0xBC);
    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> allocations;
    for (int i = 0; i < 80; ++i) {
        auto bytes = pattern(900 + 3 * i, static_cast<std::uint8_t>(i));
        allocations.emplace_back(builder.allocate(bytes), bytes);
    }
    builder.setRoot(allocations.front().first);
    const std::uint64_t bid = builder.write(file.ndb());
    const pst::Heap heap = openHeap(file.open(), bid);

    EXPECT_EQ(heap.clientSignature(), 0xBC);
    EXPECT_EQ(heap.userRoot(), allocations.front().first);
    for (const auto& [hid, bytes] : allocations) {
        auto got = heap.allocation(hid);
        ASSERT_TRUE(got.ok()) << got.error().message().toStdString();
        EXPECT_EQ(copy(*got), bytes) << pst::hex(hid).toStdString();
    }
    EXPECT_TRUE(heap.allocation(0)->empty());
    const std::uint32_t last = allocations.back().first;
    const std::uint32_t shift = file.geometry().heapBlockShift;
    EXPECT_EQ(heap.allocation(last + 0x20).error().kind(), pst::ErrorKind::Corrupt);                           // one too many
    EXPECT_EQ(heap.allocation(((last >> shift) + 1) << shift | 0x20).error().kind(), pst::ErrorKind::Corrupt); // no such block
}

TEST_P(Layers, BTreeOnHeapVisitsEveryRecordThroughItsIndexAndRefusesRecordsUsedTwice)
{
    BuiltFile file(GetParam());
    pstgen::HeapBuilder builder(file.geometry(), 0xBC);
    // 1,000 records {key, value} in leaves of 400, an index record for each.
    pstgen::RecordBuffer index;
    std::vector<std::uint32_t> leaves;
    for (std::uint32_t first = 0; first < 1000; first += 400) {
        pstgen::RecordBuffer leaf;
        for (std::uint32_t k = first; k < std::min(first + 400, 1000u); ++k)
            leaf.u32(10 * k).u32(k ^ 0xABCD);
        leaves.push_back(builder.allocate(leaf.span()));
        index.u32(10 * first).u32(leaves.back());
    }
    const std::uint32_t indexHid = builder.allocate(index.span());
    pstgen::RecordBuffer header;
    header.u8(0xB5).u8(4).u8(4).u8(1).u32(indexHid);
    const std::uint32_t headerHid = builder.allocate(header.span());
    // A damaged copy whose second index record names the first leaf again.
    pstgen::RecordBuffer looped;
    looped.u32(0).u32(leaves[0]).u32(10 * 400).u32(leaves[0]);
    pstgen::RecordBuffer loopedHeader;
    loopedHeader.u8(0xB5).u8(4).u8(4).u8(1).u32(builder.allocate(looped.span()));
    const std::uint32_t loopedHid = builder.allocate(loopedHeader.span());
    const pst::Heap heap = openHeap(file.open(), builder.write(file.ndb()));

    auto tree = pst::BTreeOnHeap::open(heap, headerHid);
    ASSERT_TRUE(tree.ok());
    std::vector<std::pair<std::uint64_t, std::uint64_t>> records;
    ASSERT_TRUE(tree->forEach([&](pst::Bytes key, pst::Bytes data) {
                        records.emplace_back(pst::keyValue(key), pst::SpanReader(data).u32(0));
                    })
                    .ok());
    ASSERT_EQ(records.size(), 1000u);
    for (std::uint32_t k = 0; k < 1000; ++k)
        EXPECT_EQ(records[k], std::make_pair(std::uint64_t(10 * k), std::uint64_t(k ^ 0xABCD)));

    auto loop = pst::BTreeOnHeap::open(heap, loopedHid);
    ASSERT_TRUE(loop.ok());
    EXPECT_EQ(loop->forEach([](pst::Bytes, pst::Bytes) {}).error().kind(), pst::ErrorKind::Corrupt);
}

TEST_P(Layers, TableContextGivesRowsInOrderWithTheirCells)
{
    BuiltFile file(GetParam());
    // 600 rows: the row matrix goes to a subnode and the row index needs an
    // index level in every format.
    pstgen::TableContextBuilder builder(pstgen::columns::attachments());
    const pstgen::TextEncoding text(file.ndb(), 1252);
    std::vector<std::uint32_t> ids;
    for (std::uint32_t i = 0; i < 600; ++i) {
        const std::uint32_t id = ((0x401 + (i * 7919) % 600) << 5) | 0x05; // not in key order
        ids.push_back(id);
        pstgen::TableContextBuilder::Row row(id, i + 1, text);
        row.set(pstgen::tag::AttachSize, 1000 + i).set(pstgen::tag::AttachMethod, 1);
        if (i % 3 != 0)
            row.setString(pstgen::tag::AttachFilename, u"Datei %1 äö.txt"_s.arg(i));
        builder.addRow(std::move(row));
    }
    pstgen::SubnodeList subnodes;
    const std::uint64_t bid = builder.write(file.ndb(), subnodes);
    const std::uint64_t subBid = subnodes.write(file.ndb());
    const pst::Blocks& blocks = file.open();

    auto sub = pst::SubnodeTree::open(blocks, subBid);
    ASSERT_TRUE(sub.ok());
    auto tree = pst::DataTree::open(blocks, bid);
    ASSERT_TRUE(tree.ok());
    auto table = pst::TableContext::open(blocks, *tree, std::make_shared<pst::SubnodeTree>(*sub), pst::Where());
    ASSERT_TRUE(table.ok()) << table.error().message().toStdString();
    EXPECT_EQ(table->rowIds(), ids);
    const auto& columns = table->columns();
    const std::uint16_t stringType = GetParam() == pstgen::Format::Ansi ? 0x001E : 0x001F;
    EXPECT_TRUE(std::any_of(columns.begin(), columns.end(), [&](const auto& c) { return c.tag == (0x37040000u | stringType); }));
    for (std::size_t i = 0; i < 600; i += 37) {
        auto cells = table->cells(i);
        ASSERT_TRUE(cells.ok()) << cells.error().message().toStdString();
        std::map<std::uint32_t, pst::StoredValue> byTag(cells->begin(), cells->end());
        EXPECT_EQ(byTag[pstgen::tag::AttachSize].raw, 1000 + i);
        EXPECT_EQ(byTag.count(0x37040000u | stringType), i % 3 != 0 ? 1u : 0u) << i;
        if (i % 3 != 0) {
            EXPECT_EQ(pst::readString(table->store(), byTag[0x37040000u | stringType], 1252), u"Datei %1 äö.txt"_s.arg(i));
        }
    }
    EXPECT_FALSE(table->cells(600).ok());
}

// An XBLOCK that lists a data block twice is damage; the same blocks once
// each make the value.
TEST_P(Layers, DataTreeRefusesADataBlockListedTwice)
{
    BuiltFile file(GetParam());
    const auto a = pattern(3000, 1), b = pattern(2000, 2);
    const std::uint64_t first = file.ndb().addDataBlock(a), second = file.ndb().addDataBlock(b);
    const std::size_t idSize = GetParam() == pstgen::Format::Ansi ? 4 : 8;
    const auto xblock = [&](std::vector<std::uint64_t> children, std::uint32_t total) {
        std::vector<std::uint8_t> x(8 + children.size() * idSize);
        x[0] = 0x01; // btype
        x[1] = 0x01; // cLevel
        x[2] = static_cast<std::uint8_t>(children.size());
        for (int i = 0; i < 4; ++i)
            x[4 + i] = static_cast<std::uint8_t>(total >> (8 * i));
        for (std::size_t c = 0; c < children.size(); ++c)
            for (std::size_t i = 0; i < idSize; ++i)
                x[8 + c * idSize + i] = static_cast<std::uint8_t>(children[c] >> (8 * i));
        return file.ndb().addInternalBlock(x);
    };
    const std::uint64_t once = xblock({first, second}, 5000);
    const std::uint64_t twice = xblock({first, second, first}, 8000);
    const pst::Blocks& blocks = file.open();

    auto good = pst::DataTree::open(blocks, once);
    ASSERT_TRUE(good.ok()) << good.error().message().toStdString();
    EXPECT_EQ(good->size(), 5000u);
    auto all = good->readAll(blocks, 5000);
    ASSERT_TRUE(all.ok());
    auto expected = a;
    expected.insert(expected.end(), b.begin(), b.end());
    EXPECT_EQ(*all, expected);

    auto bad = pst::DataTree::open(blocks, twice);
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().kind(), pst::ErrorKind::Corrupt);
    EXPECT_TRUE(bad.error().reason().contains(u"at block %1 (the block is used twice)"_s.arg(pst::hex(first))))
        << bad.error().message().toStdString();
}

TEST_P(Layers, SubnodeTreeFindsEveryEntryThroughItsIndex)
{
    BuiltFile file(GetParam());
    pstgen::SubnodeList list;
    std::map<std::uint32_t, std::uint64_t> written;
    for (int i = 0; i < 700; ++i) { // one SLBLOCK holds 340 (Unicode) or 681 (ANSI)
        const std::uint32_t nid = list.allocate(i % 2 ? 0x1F : 0x05);
        const std::uint64_t data = file.ndb().addDataBlock(pattern(16, static_cast<std::uint8_t>(i)));
        list.add(nid, data, 0);
        written[nid] = data;
    }
    const std::uint64_t bid = list.write(file.ndb());
    auto tree = pst::SubnodeTree::open(file.open(), bid);
    ASSERT_TRUE(tree.ok()) << tree.error().message().toStdString();
    ASSERT_EQ(tree->entries().size(), 700u);
    for (const auto& [nid, data] : written) {
        const pst::SubnodeEntry* entry = tree->find(nid);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->bidData, data);
    }
    EXPECT_EQ(tree->find(0x21), nullptr);
}

TEST_P(Layers, ReadErrorsReachTheCallerAsReadErrors)
{
    const QByteArray bytes = readFile(damageMailbox(GetParam()));
    const auto memory =
        std::make_shared<pst::MemorySource>(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), u"failing.pst"_s);
    const auto budget = std::make_shared<std::atomic<std::int64_t>>(100);

    // The header cannot be read: a read error, not "not a PST file".
    auto early = pst::Store::open(std::make_unique<FailingSource>(memory, budget));
    ASSERT_FALSE(early.ok());
    EXPECT_EQ(early.error().kind(), pst::ErrorKind::Io);
    EXPECT_EQ(early.error().systemError(), EIO);

    // How much mounting and a whole walk read.
    budget->store(INT64_MAX / 2);
    QTemporaryDir out;
    const auto walk = [&] {
        auto mapi = mailhost::Registry::global().CreateObject(mailhost::kApplicationProgId)->GetNamespace(u"MAPI"_s);
        mapi->AddStore(std::make_unique<FailingSource>(memory, budget));
        return saveAll(mapi->Folders()->GetLast(), out.path());
    };
    const auto intact = walk();
    const std::int64_t total = INT64_MAX / 2 - budget->load();
    ASSERT_EQ(intact.size(), 133u);

    // The disk goes away in the middle of the walk: what fails, fails as a
    // read error; what was read before is saved intact. (Reading ahead
    // makes the amount read vary a little from walk to walk.)
    for (const std::int64_t at : {total / 4, total / 2}) {
        budget->store(at);
        std::vector<SavedAttachment> saved;
        try {
            saved = walk();
        } catch (const Failure& e) {
            EXPECT_EQ(e.number(), Failure::numberOf(EIO)) << e.description().toStdString();
            continue;
        }
        int failed = 0;
        for (std::size_t i = 0, j = 0; i < saved.size(); ++i) {
            if (!saved[i].error.isEmpty()) {
                ++failed;
                EXPECT_TRUE(saved[i].error.contains(QString::fromUtf8(std::strerror(EIO)))) << saved[i].error.toStdString();
                EXPECT_FALSE(saved[i].error.contains(u"damaged"_s)) << saved[i].error.toStdString();
                continue;
            }
            while (j < intact.size() && intact[j].fileName != saved[i].fileName)
                ++j;
            ASSERT_LT(j, intact.size());
            EXPECT_EQ(saved[i].sha256, intact[j].sha256) << saved[i].fileName.toStdString();
        }
        EXPECT_GT(failed, 0);
    }
}
