#include "pstgen/SubnodeList.h"

#include "pstgen/RecordBuffer.h"

#include <algorithm>

namespace parcelon::pstgen {

std::uint32_t SubnodeList::allocate(std::uint8_t type)
{
    // Like Outlook, the first of each type has index 0x401 (0x8025, 0x803F, ...).
    auto& next = m_next[type & 0x1F];
    if (next == 0)
        next = 0x401;
    return (next++ << 5) | (type & 0x1F);
}

void SubnodeList::add(std::uint32_t nid, std::uint64_t bidData, std::uint64_t bidSub)
{
    m_entries.push_back({nid, bidData, bidSub});
}

std::uint64_t SubnodeList::write(NdbWriter& ndb)
{
    if (m_entries.empty())
        return 0;
    std::sort(m_entries.begin(), m_entries.end(), [](const Entry& a, const Entry& b) { return a.nid < b.nid; });

    const Geometry& geometry = ndb.geometry();
    const std::uint32_t width = geometry.idSize;
    const auto header = [&](RecordBuffer& block, std::uint8_t level, std::size_t count) {
        block.u8(0x02).u8(level).u16(std::uint16_t(count)).zeros(geometry.subnodeHeaderSize() - 4);
    };
    const std::size_t perLeaf = geometry.slblockCapacity();
    std::vector<std::pair<std::uint32_t, std::uint64_t>> leaves; // first nid, SLBLOCK id
    for (std::size_t first = 0; first < m_entries.size(); first += perLeaf) {
        const std::size_t n = std::min(perLeaf, m_entries.size() - first);
        RecordBuffer block(geometry.subnodeHeaderSize() + geometry.slEntrySize() * n);
        header(block, 0, n);
        for (std::size_t i = first; i < first + n; ++i)
            block.id(m_entries[i].nid, width).id(m_entries[i].bidData, width).id(m_entries[i].bidSub, width);
        leaves.emplace_back(m_entries[first].nid, ndb.addInternalBlock(block.span()));
    }
    if (leaves.size() == 1)
        return leaves.front().second;
    if (leaves.size() > geometry.siblockCapacity()) {
        ndb.fail(pst::Error(pst::ErrorKind::Unsupported,
                            QStringLiteral("%1 subnodes are more than one node can hold").arg(m_entries.size())));
        return 0;
    }
    RecordBuffer index(geometry.subnodeHeaderSize() + geometry.siEntrySize() * leaves.size());
    header(index, 1, leaves.size());
    for (const auto& [nid, bid] : leaves)
        index.id(nid, width).id(bid, width);
    return ndb.addInternalBlock(index.span());
}

} // namespace parcelon::pstgen
