#include "mailhost/pst/tables/BTreeOnHeap.h"

#include "mailhost/pst/tables/Layout.h"

namespace parcelon::pst {

namespace {
constexpr int kMaxLevels = 8;
}

std::uint64_t keyValue(Bytes key)
{
    return SpanReader(key).uint(0, key.size());
}

Result<BTreeOnHeap> BTreeOnHeap::open(const Heap& heap, std::uint32_t headerHid)
{
    auto header = heap.allocation(headerHid);
    if (!header)
        return header.error();
    const SpanReader h(*header);
    const layout::BTHHeader& l = layout::kBTHHeader;
    if (h.size() < l.size() || h.field(l.bType) != layout::bTypeBTH)
        return heap.damaged(QStringLiteral("B-tree header %1 is damaged").arg(hex(headerHid)));
    BTreeOnHeap tree;
    tree.m_heap = &heap;
    tree.m_keySize = h.field(l.cbKey);
    tree.m_dataSize = h.field(l.cbEnt);
    tree.m_levels = static_cast<int>(h.field(l.bIdxLevels));
    tree.m_root = static_cast<std::uint32_t>(h.field(l.hidRoot));
    const auto validKey = [](std::size_t n) { return n == 2 || n == 4 || n == 8 || n == 16; };
    if (!validKey(tree.m_keySize) || tree.m_dataSize == 0 || tree.m_dataSize > 32 || tree.m_levels > kMaxLevels)
        return heap.damaged(QStringLiteral("B-tree header %1 gives keys of %2 bytes, data of %3 bytes and %4 levels")
                                .arg(hex(headerHid))
                                .arg(tree.m_keySize)
                                .arg(tree.m_dataSize)
                                .arg(tree.m_levels));
    return tree;
}

Result<void> BTreeOnHeap::walk(std::uint32_t hid, int level, const std::function<void(Bytes, Bytes)>& visit,
                               std::unordered_set<std::uint32_t>& seen) const
{
    if (!seen.insert(hid).second)
        return m_heap->damaged(QStringLiteral("B-tree records %1 are used twice").arg(hex(hid)));
    auto records = m_heap->allocation(hid);
    if (!records)
        return records.error();
    const std::size_t recordSize = m_keySize + (level > 0 ? layout::kBTHIndexDataSize : m_dataSize);
    if (records->size() % recordSize != 0)
        return m_heap->damaged(
            QStringLiteral("B-tree records %1 do not divide into records of %2 bytes").arg(hex(hid)).arg(recordSize));
    for (std::size_t off = 0; off < records->size(); off += recordSize) {
        const Bytes key = records->subspan(off, m_keySize);
        if (level > 0) {
            const std::uint32_t child = SpanReader(records->subspan(off + m_keySize, layout::kBTHIndexDataSize)).u32(0);
            if (auto r = walk(child, level - 1, visit, seen); !r)
                return r;
        } else {
            visit(key, records->subspan(off + m_keySize, m_dataSize));
        }
    }
    return {};
}

Result<void> BTreeOnHeap::forEach(const std::function<void(Bytes, Bytes)>& visit) const
{
    if (m_root == 0)
        return {};
    std::unordered_set<std::uint32_t> seen;
    return walk(m_root, m_levels, visit, seen);
}

} // namespace parcelon::pst
