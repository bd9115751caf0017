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
    const pst::Format& f = format();
    const std::size_t t = f.pageTrailerOffset();
    const auto* page = reinterpret_cast<const std::uint8_t*>(m_bytes.constData()) + offset;
    const std::uint32_t crc = pst::pstCrc(std::span(page, t));
    setUint(offset + t + (f.ansi() ? 8 : 4), crc, 4);
}

void PstSurgery::fixBlockChecksum(const pst::BlockEntry& block)
{
    const pst::Format& f = format();
    const auto* data = reinterpret_cast<const std::uint8_t*>(m_bytes.constData()) + block.ib;
    const std::uint64_t trailer = block.ib + f.blockDiskSize(block.cb) - f.blockTrailerSize();
    setUint(trailer + (f.ansi() ? 8 : 4), pst::pstCrc(std::span(data, block.cb)), 4);
}

PstSurgery::EntryPlace PstSurgery::find(bool nodes, std::uint64_t key) const
{
    const pst::Format& f = format();
    const std::size_t id = f.idSize();
    std::uint64_t page = nodes ? m_header.nodeBTree.ib : m_header.blockBTree.ib;
    for (int depth = 0; depth < 8; ++depth) {
        const std::size_t area = f.btEntryAreaSize();
        const std::size_t w = f.btCountWidth();
        const auto count = uint(page + area, w);
        const auto entrySize = uint(page + area + 2 * w, 1);
        const auto level = uint(page + area + 2 * w + 1, 1);
        std::uint64_t chosen = UINT64_MAX;
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint64_t k = uint(page + i * entrySize, id);
            if (nodes)
                k &= 0xFFFFFFFF;
            if (level == 0 && k == key)
                return {page, page + i * entrySize};
            if (level > 0 && k <= key)
                chosen = i;
        }
        if (level == 0 || chosen == UINT64_MAX)
            break;
        page = uint(page + chosen * entrySize + 2 * id, id);
    }
    ADD_FAILURE() << "no B-tree entry for " << key;
    return {};
}

PstSurgery::EntryPlace PstSurgery::blockEntry(std::uint64_t bid) const
{
    return find(false, bid & ~std::uint64_t(1));
}

PstSurgery::EntryPlace PstSurgery::nodeEntry(std::uint32_t nid) const
{
    return find(true, nid);
}

pst::NodeEntry PstSurgery::node(std::uint32_t nid) const
{
    const std::size_t id = format().idSize();
    const std::uint64_t at = nodeEntry(nid).entryOffset;
    return {static_cast<pst::Nid>(uint(at, id)), uint(at + id, id), uint(at + 2 * id, id),
            static_cast<pst::Nid>(uint(at + 3 * id, 4))};
}

void PstSurgery::setNode(std::uint32_t nid, std::uint64_t bidData, std::uint64_t bidSub)
{
    const std::size_t id = format().idSize();
    const EntryPlace place = nodeEntry(nid);
    setUint(place.entryOffset + id, bidData, id);
    setUint(place.entryOffset + 2 * id, bidSub, id);
    fixPageChecksum(place.pageOffset);
}

void PstSurgery::setParent(std::uint32_t nid, std::uint32_t parent)
{
    const EntryPlace place = nodeEntry(nid);
    setUint(place.entryOffset + 3 * format().idSize(), parent, 4);
    fixPageChecksum(place.pageOffset);
}

pst::BlockEntry PstSurgery::block(std::uint64_t bid) const
{
    const std::size_t id = format().idSize();
    const std::uint64_t at = blockEntry(bid).entryOffset;
    const auto cb = static_cast<std::uint32_t>(uint(at + 2 * id, 2));
    return {uint(at, id), uint(at + id, id), cb, cb};
}

void PstSurgery::forEachBlock(const std::function<void(const pst::BlockEntry&)>& visit) const
{
    const pst::Format& f = format();
    const std::size_t id = f.idSize();
    const std::function<void(std::uint64_t, int)> walk = [&](std::uint64_t page, int depth) {
        const std::size_t area = f.btEntryAreaSize();
        const std::size_t w = f.btCountWidth();
        const auto count = uint(page + area, w);
        const auto entrySize = uint(page + area + 2 * w, 1);
        const auto level = uint(page + area + 2 * w + 1, 1);
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint64_t at = page + i * entrySize;
            if (level == 0) {
                const auto cb = static_cast<std::uint32_t>(uint(at + 2 * id, 2));
                visit({uint(at, id), uint(at + id, id), cb, cb});
            } else if (depth < 8) {
                walk(uint(at + 2 * id, id), depth + 1);
            }
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
    const std::size_t id = format().idSize();
    const pst::BlockEntry b = block(bid);
    EXPECT_EQ(uint(b.ib, 1), 2u) << "not a subnode block";
    EXPECT_EQ(uint(b.ib + 1, 1), 0u) << "a subnode block of more than one level";
    std::vector<Subnode> entries;
    const auto count = uint(b.ib + 2, 2);
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t at = b.ib + 8 + i * 3 * id;
        entries.push_back({static_cast<std::uint32_t>(uint(at, id)), uint(at + id, id), uint(at + 2 * id, id)});
    }
    return entries;
}

void PstSurgery::setSubnode(std::uint64_t bid, std::uint32_t nid, std::uint64_t bidData, std::uint64_t bidSub)
{
    const std::size_t id = format().idSize();
    const pst::BlockEntry b = block(bid);
    const auto count = uint(b.ib + 2, 2);
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t at = b.ib + 8 + i * 3 * id;
        if (uint(at, id) == nid) {
            setUint(at + id, bidData, id);
            setUint(at + 2 * id, bidSub, id);
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
    if (bid & 2) {
        const pst::BlockEntry x = block(bid);
        EXPECT_EQ(uint(x.ib, 2), 0x0101u) << "not a data tree of one level";
        const std::size_t id = format().idSize();
        leaves.clear();
        for (std::uint64_t i = 0; i < uint(x.ib + 2, 2); ++i)
            leaves.push_back(uint(x.ib + 8 + i * id, id));
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
