#include "testsupport/PstSurgery.h"

#include "mailhost/pst/bytes/Crc.h"
#include "mailhost/pst/bytes/SpanReader.h"
#include "testsupport/TestPaths.h"

#include <gtest/gtest.h>

namespace parcelon::test {

namespace {

pst::Header headerOf(const QByteArray& bytes)
{
    pst::MemorySource source(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), QStringLiteral("image"));
    auto header = pst::Header::read(source);
    EXPECT_TRUE(header.ok());
    return header ? *header : pst::Header{};
}

} // namespace

PstSurgery::PstSurgery(QByteArray bytes) : m_bytes(std::move(bytes)), m_header(headerOf(m_bytes))
{
}

std::uint64_t PstSurgery::uint(std::uint64_t offset, std::size_t width) const
{
    const pst::SpanReader r(std::span(reinterpret_cast<const std::uint8_t*>(m_bytes.constData()), m_bytes.size()));
    return r.uint(offset, width);
}

void PstSurgery::setUint(std::uint64_t offset, std::uint64_t value, std::size_t width)
{
    for (std::size_t i = 0; i < width; ++i)
        m_bytes[static_cast<qsizetype>(offset + i)] = static_cast<char>(value >> (8 * i));
}

void PstSurgery::fixPageChecksum(std::uint64_t offset)
{
    const std::size_t t = format().pageTrailerOffset();
    const auto* page = reinterpret_cast<const std::uint8_t*>(m_bytes.constData()) + offset;
    setField(offset + t, format().layouts().pageTrailer.dwCRC, pst::pstCrc(std::span(page, t)));
}

void PstSurgery::fixBlockChecksum(const pst::BlockEntry& block)
{
    const pst::Format& f = format();
    const auto* data = reinterpret_cast<const std::uint8_t*>(m_bytes.constData()) + block.ib;
    const std::uint64_t trailer = block.ib + f.blockDiskSize(block.cb) - f.blockTrailerSize();
    setField(trailer, f.layouts().blockTrailer.dwCRC, pst::pstCrc(std::span(data, block.cb)));
}

void PstSurgery::fixHeaderChecksums()
{
    const pst::layout::Header& l = format().layouts().header;
    const auto* h = reinterpret_cast<const std::uint8_t*>(m_bytes.constData());
    setField(0, l.dwCRCPartial, pst::pstCrc(std::span(h + l.partialCrcBytes.offset, l.partialCrcBytes.size)));
    if (l.dwCRCFull.size != 0)
        setField(0, l.dwCRCFull, pst::pstCrc(std::span(h + l.fullCrcBytes.offset, l.fullCrcBytes.size)));
}

PstSurgery::PageShape PstSurgery::pageShape(std::uint64_t offset) const
{
    const pst::layout::BTPage& l = format().layouts().btPage;
    return {field(offset, l.cEnt), field(offset, l.cbEnt), field(offset, l.cLevel)};
}

pst::BlockRef PstSurgery::child(std::uint64_t page, std::uint64_t index) const
{
    const pst::layout::Layouts& l = format().layouts();
    const std::uint64_t bref = page + index * pageShape(page).entrySize + l.btEntry.BREF.offset;
    return {field(bref, l.bref.bid), field(bref, l.bref.ib)};
}

PstSurgery::EntryPlace PstSurgery::find(bool nodes, std::uint64_t key) const
{
    // Every entry starts with its key.
    const pst::Field btkey = format().layouts().btEntry.btkey;
    std::uint64_t page = nodes ? m_header.nodeBTree.ib : m_header.blockBTree.ib;
    for (int depth = 0; depth < 8; ++depth) {
        const PageShape shape = pageShape(page);
        std::uint64_t chosen = UINT64_MAX;
        for (std::uint64_t i = 0; i < shape.count; ++i) {
            std::uint64_t k = field(page + i * shape.entrySize, btkey);
            if (nodes)
                k &= 0xFFFFFFFF;
            if (shape.level == 0 && k == key)
                return {page, page + i * shape.entrySize};
            if (shape.level > 0 && k <= key)
                chosen = i;
        }
        if (shape.level == 0 || chosen == UINT64_MAX)
            break;
        page = child(page, chosen).ib;
    }
    ADD_FAILURE() << "no B-tree entry for " << key;
    return {};
}

PstSurgery::EntryPlace PstSurgery::blockEntry(std::uint64_t bid) const
{
    return find(false, pst::cleanBid(bid));
}

PstSurgery::EntryPlace PstSurgery::nodeEntry(std::uint32_t nid) const
{
    return find(true, nid);
}

pst::NodeEntry PstSurgery::node(std::uint32_t nid) const
{
    const pst::layout::NBTEntry& l = format().layouts().nbtEntry;
    const std::uint64_t at = nodeEntry(nid).entryOffset;
    return {static_cast<pst::Nid>(field(at, l.nid)), field(at, l.bidData), field(at, l.bidSub),
            static_cast<pst::Nid>(field(at, l.nidParent))};
}

void PstSurgery::setNode(std::uint32_t nid, std::uint64_t bidData, std::uint64_t bidSub)
{
    const pst::layout::NBTEntry& l = format().layouts().nbtEntry;
    const EntryPlace place = nodeEntry(nid);
    setField(place.entryOffset, l.bidData, bidData);
    setField(place.entryOffset, l.bidSub, bidSub);
    fixPageChecksum(place.pageOffset);
}

void PstSurgery::setParent(std::uint32_t nid, std::uint32_t parent)
{
    const EntryPlace place = nodeEntry(nid);
    setField(place.entryOffset, format().layouts().nbtEntry.nidParent, parent);
    fixPageChecksum(place.pageOffset);
}

pst::BlockEntry PstSurgery::blockEntryAt(std::uint64_t offset) const
{
    const pst::layout::Layouts& l = format().layouts();
    const std::uint64_t bref = offset + l.bbtEntry.BREF.offset;
    const auto cb = static_cast<std::uint32_t>(field(offset, l.bbtEntry.cb));
    return {field(bref, l.bref.bid), field(bref, l.bref.ib), cb, cb};
}

pst::BlockEntry PstSurgery::block(std::uint64_t bid) const
{
    return blockEntryAt(blockEntry(bid).entryOffset);
}

void PstSurgery::forEachBlock(const std::function<void(const pst::BlockEntry&)>& visit) const
{
    const std::function<void(std::uint64_t, int)> walk = [&](std::uint64_t page, int depth) {
        const PageShape shape = pageShape(page);
        for (std::uint64_t i = 0; i < shape.count; ++i) {
            if (shape.level == 0)
                visit(blockEntryAt(page + i * shape.entrySize));
            else if (depth < 8)
                walk(child(page, i).ib, depth + 1);
        }
    };
    walk(m_header.blockBTree.ib, 0);
}

pst::BlockEntry PstSurgery::blockHolding(std::uint64_t offset) const
{
    pst::BlockEntry found;
    forEachBlock([&](const pst::BlockEntry& b) {
        if (offset >= b.ib && offset < b.ib + b.cb)
            found = b;
    });
    if (found.cb == 0)
        ADD_FAILURE() << "no block holds offset " << offset;
    return found;
}

std::vector<PstSurgery::Subnode> PstSurgery::subnodes(std::uint64_t bid) const
{
    const pst::layout::Layouts& l = format().layouts();
    const pst::BlockEntry b = block(bid);
    EXPECT_EQ(field(b.ib, l.subnodeBlock.btype), pst::layout::btypeSubnodeTree) << "not a subnode block";
    EXPECT_EQ(field(b.ib, l.subnodeBlock.cLevel), 0u) << "a subnode block of more than one level";
    std::vector<Subnode> entries;
    for (std::uint64_t i = 0; i < field(b.ib, l.subnodeBlock.cEnt); ++i) {
        const std::uint64_t at = b.ib + l.subnodeBlock.entries + i * l.slEntry.size();
        entries.push_back(
            {static_cast<std::uint32_t>(field(at, l.slEntry.nid)), field(at, l.slEntry.bidData), field(at, l.slEntry.bidSub)});
    }
    return entries;
}

void PstSurgery::setSubnode(std::uint64_t bid, std::uint32_t nid, std::uint64_t bidData, std::uint64_t bidSub)
{
    const pst::layout::Layouts& l = format().layouts();
    const pst::BlockEntry b = block(bid);
    for (std::uint64_t i = 0; i < field(b.ib, l.subnodeBlock.cEnt); ++i) {
        const std::uint64_t at = b.ib + l.subnodeBlock.entries + i * l.slEntry.size();
        if (field(at, l.slEntry.nid) == nid) {
            setField(at, l.slEntry.bidData, bidData);
            setField(at, l.slEntry.bidSub, bidSub);
            fixBlockChecksum(b);
            return;
        }
    }
    ADD_FAILURE() << "no subnode " << nid << " in block " << bid;
}

int PstSurgery::replace(const QByteArray& from, const QByteArray& to, std::uint64_t bid)
{
    EXPECT_EQ(from.size(), to.size());
    if (bid == 0)
        return replaceWithin(from, to, 0, static_cast<std::uint64_t>(m_bytes.size()));
    // A data tree of one level: the blocks its index block names.
    std::vector<std::uint64_t> leaves{bid};
    if (pst::isInternalBid(bid)) {
        const pst::layout::XBlock& l = pst::layout::kXBlock;
        const pst::BlockEntry x = block(bid);
        EXPECT_TRUE(field(x.ib, l.btype) == pst::layout::btypeDataTree && field(x.ib, l.cLevel) == 1)
            << "not a data tree of one level";
        const std::size_t id = format().idSize();
        leaves.clear();
        for (std::uint64_t i = 0; i < field(x.ib, l.cEnt); ++i)
            leaves.push_back(uint(x.ib + l.rgbid + i * id, id));
    }
    int replaced = 0;
    for (const std::uint64_t leaf : leaves) {
        const pst::BlockEntry b = block(leaf);
        replaced += replaceWithin(from, to, b.ib, b.ib + b.cb);
    }
    return replaced;
}

int PstSurgery::replaceWithin(const QByteArray& from, const QByteArray& to, std::uint64_t begin, std::uint64_t end)
{
    int replaced = 0;
    for (qsizetype at = m_bytes.indexOf(from, static_cast<qsizetype>(begin));
         at >= 0 && static_cast<std::uint64_t>(at + from.size()) <= end; at = m_bytes.indexOf(from, at + 1)) {
        m_bytes.replace(at, to.size(), to);
        ++replaced;
        fixBlockChecksum(blockHolding(static_cast<std::uint64_t>(at)));
    }
    return replaced;
}

QString PstSurgery::save(const QString& path) const
{
    writeFile(path, m_bytes);
    return path;
}

} // namespace parcelon::test
