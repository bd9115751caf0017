#include "mailhost/pst/blocks/SubnodeTree.h"

#include "mailhost/pst/bytes/SpanReader.h"

#include <algorithm>
#include <unordered_set>

namespace parcelon::pst {

namespace {

constexpr int kMaxLevel = 4;

struct Reader {
    const Blocks& blocks;
    std::uint64_t root;
    std::vector<SubnodeEntry> entries;
    std::unordered_set<std::uint64_t> seen;

    Error damaged(std::uint64_t bid, const QString& reason) const
    {
        return corrupt(Where{blocks.source().name(), {}},
                       QStringLiteral("the subnode tree of block %1 is damaged at block %2 (%3)")
                           .arg(hex(cleanBid(root)), hex(cleanBid(bid)), reason));
    }

    Result<void> add(std::uint64_t bid, int expectedLevel)
    {
        if (!isInternalBid(bid))
            return damaged(bid, QStringLiteral("a data block where a subnode block belongs"));
        if (!seen.insert(cleanBid(bid)).second)
            return damaged(bid, QStringLiteral("the block is used twice"));
        auto data = blocks.read(bid);
        if (!data)
            return data.error();
        const layout::Layouts& l = blocks.format().layouts();
        const SpanReader s(*data);
        const auto btype = static_cast<std::uint8_t>(s.field(l.subnodeBlock.btype));
        const int level = static_cast<int>(s.field(l.subnodeBlock.cLevel));
        const std::size_t count = s.field(l.subnodeBlock.cEnt);
        if (btype != layout::btypeSubnodeTree)
            return damaged(bid, QStringLiteral("block type %1 instead of 0x2").arg(hex(btype)));
        if (level > kMaxLevel || (expectedLevel >= 0 && level != expectedLevel))
            return damaged(bid, QStringLiteral("level %1").arg(level));
        const std::size_t entrySize = level == 0 ? l.slEntry.size() : l.siEntry.size();
        const std::size_t start = l.subnodeBlock.entries;
        if (!s.has(start, count * entrySize))
            return damaged(bid, QStringLiteral("%1 entries do not fit").arg(count));
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t off = start + i * entrySize;
            // The upper half of an 8-byte node id field may hold anything.
            const auto nid = static_cast<Nid>(s.field(l.slEntry.nid, off));
            if (level == 0) {
                entries.push_back({nid, s.field(l.slEntry.bidData, off), s.field(l.slEntry.bidSub, off)});
            } else if (auto r = add(s.field(l.siEntry.bid, off), level - 1); !r) {
                return r;
            }
        }
        return {};
    }
};

} // namespace

Result<SubnodeTree> SubnodeTree::open(const Blocks& blocks, std::uint64_t bid)
{
    SubnodeTree tree;
    if (bid == 0)
        return tree;
    Reader reader{blocks, bid, {}, {}};
    if (auto r = reader.add(bid, -1); !r)
        return r.error();
    tree.m_entries = std::move(reader.entries);
    std::stable_sort(tree.m_entries.begin(), tree.m_entries.end(),
                     [](const SubnodeEntry& a, const SubnodeEntry& b) { return a.nid < b.nid; });
    return tree;
}

const SubnodeEntry* SubnodeTree::find(Nid nid) const
{
    auto it = std::lower_bound(m_entries.begin(), m_entries.end(), nid, [](const SubnodeEntry& e, Nid n) { return e.nid < n; });
    return it != m_entries.end() && it->nid == nid ? &*it : nullptr;
}

} // namespace parcelon::pst
