#include "mailhost/msg/ValueSource.h"

#include <algorithm>
#include <cstring>

namespace parcelon::msg {

using namespace Qt::StringLiterals;
using pst::Result;

ValueSource::ValueSource(const pst::Blocks& blocks, pst::ValueLocation value, pst::Where where)
    : m_blocks(&blocks), m_value(std::move(value)), m_where(std::move(where)), m_name(m_where.text())
{
    if (!m_value.tree)
        return;
    std::uint64_t start = 0;
    for (const pst::BlockEntry& leaf : m_value.tree->leaves()) {
        m_leafStarts.push_back(start);
        start += leaf.cbInflated;
    }
}

Result<pst::Bytes> ValueSource::leafAt(std::uint64_t offset, std::uint64_t& leafStart) const
{
    if (!m_value.tree) {
        leafStart = 0;
        return pst::Bytes(m_value.heapBytes);
    }
    const auto it = std::upper_bound(m_leafStarts.begin(), m_leafStarts.end(), offset);
    const std::size_t index = static_cast<std::size_t>(it - m_leafStarts.begin()) - 1;
    const pst::BlockEntry& leaf = m_value.tree->leaves()[index];
    if (index != m_loaded) {
        m_loaded = SIZE_MAX;
        if (auto r = m_blocks->readAt(leaf, m_leaf, m_scratch); !r)
            return r.error();
        if (m_leaf.size() != leaf.cbInflated)
            return pst::corrupt(m_where,
                                u"block %1 holds %2 bytes instead of %3"_s.arg(pst::hex(leaf.bid))
                                    .arg(m_leaf.size())
                                    .arg(leaf.cbInflated));
        m_loaded = index;
    }
    leafStart = m_leafStarts[index];
    return pst::Bytes(m_leaf);
}

Result<void> ValueSource::stream(std::uint64_t offset, std::uint64_t count,
                                 const std::function<Result<void>(pst::Bytes)>& sink) const
{
    if (offset > size() || count > size() - offset)
        return pst::corrupt(m_where, u"bytes %1 to %2 lie beyond its %3 bytes"_s.arg(offset).arg(offset + count).arg(size()));
    while (count > 0) {
        std::uint64_t leafStart = 0;
        auto leaf = leafAt(offset, leafStart);
        if (!leaf)
            return leaf.error();
        const std::uint64_t at = offset - leafStart;
        if (at >= leaf->size())
            return pst::corrupt(m_where, u"its blocks end before its %1 bytes"_s.arg(size()));
        const std::size_t n = std::min<std::uint64_t>(count, leaf->size() - at);
        if (auto r = sink(leaf->subspan(at, n)); !r)
            return r;
        offset += n;
        count -= n;
    }
    return {};
}

Result<void> ValueSource::read(std::uint64_t offset, std::span<std::uint8_t> buffer) const
{
    std::uint8_t* out = buffer.data();
    return stream(offset, buffer.size(), [&out](pst::Bytes piece) -> Result<void> {
        std::memcpy(out, piece.data(), piece.size());
        out += piece.size();
        return {};
    });
}

} // namespace parcelon::msg
