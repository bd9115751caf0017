#include "mailhost/pst/blocks/DataTree.h"

#include "mailhost/pst/bytes/SpanReader.h"

#include <algorithm>
#include <unordered_set>

namespace parcelon::pst {

namespace {

struct TreeBuilder {
    const Blocks& blocks;
    std::uint64_t root;
    std::vector<BlockEntry> leaves;
    std::unordered_set<std::uint64_t> seen; // XBLOCKs and XXBLOCKs; data blocks are checked at the end

    Error damaged(std::uint64_t bid, const QString& what) const
    {
        return corrupt(Where{blocks.source().name(), {}},
                       QStringLiteral("the data tree of block %1 is damaged at block %2 (%3)")
                           .arg(hex(cleanBid(root)), hex(cleanBid(bid)), what));
    }

    // Adds the leaves below `bid`, an XBLOCK (level 1) or XXBLOCK (level 2);
    // returns the bytes they hold.
    Result<std::uint64_t> addInternal(std::uint64_t bid, int expectedLevel)
    {
        if (!seen.insert(cleanBid(bid)).second)
            return damaged(bid, QStringLiteral("the block is used twice"));
        auto data = blocks.read(bid);
        if (!data)
            return data.error();
        const SpanReader x(*data);
        const layout::XBlock& l = layout::kXBlock;
        const std::size_t idSize = blocks.format().idSize();
        const auto btype = static_cast<std::uint8_t>(x.field(l.btype));
        const int level = static_cast<int>(x.field(l.cLevel));
        const std::size_t count = x.field(l.cEnt);
        const std::uint64_t total = x.field(l.lcbTotal);
        if (btype != layout::btypeDataTree)
            return damaged(bid, QStringLiteral("block type %1 instead of 0x1").arg(hex(btype)));
        if (level < 1 || level > 2 || (expectedLevel > 0 && level != expectedLevel))
            return damaged(bid, QStringLiteral("level %1").arg(level));
        if (!x.has(l.rgbid, count * idSize))
            return damaged(bid, QStringLiteral("%1 entries do not fit").arg(count));
        if (expectedLevel == 0) {
            // Room for the leaves at once: a large value has many, and a
            // vector that doubles holds up to three times as many a moment.
            const std::size_t perBlock = blocks.format().maxBlockData();
            const std::size_t fitting = level == 2 ? count * (perBlock / idSize) : count;
            leaves.reserve(std::min<std::size_t>(fitting, total / perBlock + count));
        }
        std::uint64_t sum = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t child = x.uint(l.rgbid + i * idSize, idSize);
            if (level == 2) {
                if (!isInternalBid(child))
                    return damaged(child, QStringLiteral("a data block where an XBLOCK belongs"));
                auto got = addInternal(child, 1);
                if (!got)
                    return got.error();
                sum += *got;
            } else {
                if (isInternalBid(child))
                    return damaged(child, QStringLiteral("an internal block where data belongs"));
                auto entry = blocks.locate(child);
                if (!entry)
                    return entry.error();
                leaves.push_back(*entry);
                sum += entry->cbInflated;
            }
        }
        if (sum != total)
            return damaged(bid, QStringLiteral("its blocks hold %1 bytes where %2 are due").arg(sum).arg(total));
        return sum;
    }
};

} // namespace

Result<DataTree> DataTree::open(const Blocks& blocks, std::uint64_t bid)
{
    DataTree tree;
    tree.m_root = bid;
    if (bid == 0)
        return tree;
    if (!isInternalBid(bid)) {
        auto entry = blocks.locate(bid);
        if (!entry)
            return entry.error();
        tree.m_leaves.push_back(*entry);
        tree.m_size = entry->cbInflated;
        return tree;
    }
    TreeBuilder builder{blocks, bid, {}, {}};
    auto total = builder.addInternal(bid, 0);
    if (!total)
        return total.error();
    // A data block listed twice: sorted ids side by side take 8 bytes a leaf
    // where a set would take several times that.
    std::vector<std::uint64_t> ids(builder.leaves.size());
    std::transform(builder.leaves.begin(), builder.leaves.end(), ids.begin(),
                   [](const BlockEntry& e) { return cleanBid(e.bid); });
    std::sort(ids.begin(), ids.end());
    if (const auto twice = std::adjacent_find(ids.begin(), ids.end()); twice != ids.end())
        return builder.damaged(*twice, QStringLiteral("the block is used twice"));
    tree.m_leaves = std::move(builder.leaves);
    tree.m_size = *total;
    return tree;
}

namespace {

template <class Buffer>
Result<void> readInto(const Blocks& blocks, std::span<const BlockEntry> leaves, Buffer& all)
{
    std::vector<std::uint8_t> scratch;
    // Blocks that lie back to back are read with one read.
    for (std::size_t next = 0; next < leaves.size();) {
        const auto rest = leaves.subspan(next);
        const std::size_t run = blocks.adjacentRun(rest, 1024 * 1024);
        if (auto r = blocks.readRun(rest.first(run), all, scratch); !r)
            return r;
        next += run;
    }
    return {};
}

} // namespace

Result<std::vector<std::uint8_t>> DataTree::readAll(const Blocks& blocks, std::uint64_t limit) const
{
    if (auto r = checkLimit(blocks, limit); !r)
        return r.error();
    std::vector<std::uint8_t> all;
    all.reserve(storedSize(blocks));
    if (auto r = readInto(blocks, m_leaves, all); !r)
        return r.error();
    return all;
}

std::size_t DataTree::storedSize(const Blocks& blocks) const
{
    std::uint64_t stored = 0;
    for (const BlockEntry& leaf : m_leaves)
        stored += blocks.format().blockDiskSize(leaf.cb);
    return static_cast<std::size_t>(std::max(m_size, stored));
}

Result<void> DataTree::readAll(const Blocks& blocks, std::uint64_t limit, ByteBuffer& all) const
{
    all.clear();
    if (auto r = checkLimit(blocks, limit); !r)
        return r;
    all.reserve(storedSize(blocks));
    return readInto(blocks, m_leaves, all);
}

Result<void> DataTree::checkLimit(const Blocks& blocks, std::uint64_t limit) const
{
    if (m_size > limit)
        return corrupt(Where{blocks.source().name(), {}},
                       QStringLiteral("the data of block %1 is %2 bytes long, more than the %3 allowed")
                           .arg(hex(cleanBid(m_root)))
                           .arg(m_size)
                           .arg(limit));
    return {};
}

Result<std::vector<std::vector<std::uint8_t>>> DataTree::readLeaves(const Blocks& blocks, std::uint64_t limit) const
{
    if (auto r = checkLimit(blocks, limit); !r)
        return r.error();
    std::vector<std::vector<std::uint8_t>> result;
    result.reserve(m_leaves.size());
    std::vector<std::uint8_t> scratch;
    for (const BlockEntry& leaf : m_leaves) {
        result.emplace_back();
        if (auto r = blocks.readAt(leaf, result.back(), scratch); !r)
            return r.error();
    }
    return result;
}

} // namespace parcelon::pst
