#include "mailhost/pst/tables/Heap.h"

#include "mailhost/pst/tables/Layout.h"

namespace parcelon::pst {

namespace {

// No heap of a real file comes near this; it bounds what a damaged one costs.
constexpr std::uint64_t kMaxHeapBytes = 16 * 1024 * 1024;

} // namespace

Error Heap::damaged(const QString& reason) const
{
    return corrupt(m_where, reason);
}

Result<Heap> Heap::open(const Blocks& blocks, const DataTree& tree, const Where& where)
{
    Heap heap;
    heap.m_where = where;
    heap.m_wideIndex = blocks.format().fourK();
    if (tree.size() == 0)
        return heap.damaged(QStringLiteral("the node holds no data"));
    auto leaves = tree.readLeaves(blocks, kMaxHeapBytes);
    if (!leaves)
        return leaves.error().withContext(where);

    heap.m_blocks.reserve(leaves->size());
    for (std::size_t i = 0; i < leaves->size(); ++i) {
        Block block;
        block.bytes = std::move((*leaves)[i]);
        const SpanReader b(block.bytes);
        // Every block header starts with ibHnpm.
        static_assert(layout::kHNHeader.ibHnpm.offset == layout::kHNPageHeader.ibHnpm.offset
                      && layout::kHNBitmapHeader.ibHnpm.offset == layout::kHNPageHeader.ibHnpm.offset);
        const auto mapOffset = static_cast<std::uint16_t>(b.field(layout::kHNPageHeader.ibHnpm));
        std::size_t headerSize = layout::kHNPageHeader.size();
        if (i == 0) {
            const layout::HNHeader& l = layout::kHNHeader;
            headerSize = l.size();
            const auto sig = static_cast<std::uint8_t>(b.field(l.bSig));
            if (sig != layout::bSigHeap)
                return heap.damaged(QStringLiteral("heap signature %1 instead of 0xEC").arg(hex(sig)));
            heap.m_clientSignature = static_cast<std::uint8_t>(b.field(l.bClientSig));
            heap.m_userRoot = static_cast<std::uint32_t>(b.field(l.hidUserRoot));
        } else if (layout::isBitmapBlock(i)) {
            headerSize = layout::kHNBitmapHeader.size();
        }
        const layout::HNPageMap& map = layout::kHNPageMap;
        const auto count = static_cast<std::uint16_t>(b.field(map.cAlloc, mapOffset));
        if (mapOffset < headerSize || !b.has(mapOffset, map.rgibAlloc + map.ibAllocSize * (std::size_t(count) + 1)))
            return heap.damaged(QStringLiteral("the page map of heap block %1 lies outside the block").arg(i));
        block.starts.reserve(count + 1);
        std::uint16_t previous = static_cast<std::uint16_t>(headerSize);
        for (std::size_t k = 0; k <= count; ++k) {
            const std::uint16_t start = b.u16(mapOffset + map.rgibAlloc + map.ibAllocSize * k);
            if (start < previous || start > mapOffset)
                return heap.damaged(QStringLiteral("allocation %1 of heap block %2 is out of place").arg(k).arg(i));
            block.starts.push_back(start);
            previous = start;
        }
        heap.m_blocks.push_back(std::move(block));
    }
    return heap;
}

Result<Bytes> Heap::allocation(std::uint32_t hid) const
{
    if (hid == 0)
        return Bytes{};
    if (!isHeapId(hid))
        return damaged(QStringLiteral("%1 is not a heap id").arg(hex(hid)));
    const std::size_t blockIndex = m_wideIndex ? hid >> 19 : hid >> 16;
    const std::size_t index = (hid >> 5) & (m_wideIndex ? 0x3FFF : 0x7FF);
    if (blockIndex >= m_blocks.size() || index == 0 || index >= m_blocks[blockIndex].starts.size())
        return damaged(QStringLiteral("heap id %1 names no allocation").arg(hex(hid)));
    const Block& block = m_blocks[blockIndex];
    const std::uint16_t start = block.starts[index - 1];
    const std::uint16_t end = block.starts[index];
    return Bytes(block.bytes).subspan(start, end - start);
}

} // namespace parcelon::pst
