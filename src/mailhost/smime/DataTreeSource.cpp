#include "mailhost/smime/DataTreeSource.h"

#include <algorithm>
#include <cstring>

namespace parcelon::smime {

DataTreeSource::DataTreeSource(std::shared_ptr<const void> keepAlive, const pst::Blocks& blocks, pst::DataTree tree,
                               pst::Where where)
    : m_keepAlive(std::move(keepAlive))
    , m_blocks(blocks)
    , m_tree(std::move(tree))
    , m_where(std::move(where))
    , m_name(m_where.text())
{
    std::uint64_t start = 0;
    m_starts.reserve(m_tree.leaves().size());
    for (const pst::BlockEntry& leaf : m_tree.leaves()) {
        m_starts.push_back(start);
        start += leaf.cbInflated;
    }
}

pst::Result<void> DataTreeSource::load(std::size_t leaf) const
{
    if (leaf == m_loaded)
        return {};
    m_loaded = SIZE_MAX;
    const pst::BlockEntry& entry = m_tree.leaves()[leaf];
    if (auto r = m_blocks.readAt(entry, m_block, m_scratch); !r)
        return r;
    if (m_block.size() != entry.cbInflated)
        return pst::corrupt(m_where,
                            QStringLiteral("block %1 holds %2 bytes where %3 are due")
                                .arg(pst::hex(entry.bid))
                                .arg(m_block.size())
                                .arg(entry.cbInflated));
    m_loaded = leaf;
    return {};
}

pst::Result<void> DataTreeSource::read(std::uint64_t offset, std::span<std::uint8_t> buffer) const
{
    if (offset > size() || buffer.size() > size() - offset)
        return pst::corrupt(m_where,
                            QStringLiteral("%1 bytes at offset %2 were asked of %3").arg(buffer.size()).arg(offset).arg(size()));
    std::size_t done = 0;
    while (done < buffer.size()) {
        const std::uint64_t at = offset + done;
        const auto next = std::upper_bound(m_starts.begin(), m_starts.end(), at);
        const auto leaf = static_cast<std::size_t>(next - m_starts.begin()) - 1;
        if (auto r = load(leaf); !r)
            return r;
        const std::uint64_t within = at - m_starts[leaf];
        const std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size() - done, m_block.size() - within));
        std::memcpy(buffer.data() + done, m_block.data() + within, count);
        done += count;
    }
    return {};
}

} // namespace parcelon::smime
