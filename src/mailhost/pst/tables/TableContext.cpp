#include "mailhost/pst/tables/TableContext.h"

#include "mailhost/pst/tables/BTreeOnHeap.h"
#include "mailhost/pst/tables/Layout.h"

#include <algorithm>

namespace parcelon::pst {

Result<TableContext> TableContext::open(const Blocks& blocks, const DataTree& data, std::shared_ptr<const SubnodeTree> subnodes,
                                        const Where& where)
{
    auto heap = Heap::open(blocks, data, where);
    if (!heap)
        return heap.error();
    if (heap->clientSignature() != Heap::kTableContext)
        return heap->damaged(QStringLiteral("it holds no table (heap type %1)").arg(hex(heap->clientSignature())));
    TableContext tc(ValueStore(blocks, std::move(heap).value(), std::move(subnodes)));
    const Heap& h = tc.m_store.heap();

    auto info = h.allocation(h.userRoot());
    if (!info)
        return info.error();
    const SpanReader t(*info);
    const layout::TCInfo& l = layout::kTCInfo;
    const layout::TCColumn& c = layout::kTCColumn;
    const std::size_t columnCount = t.field(l.cCols);
    if (t.field(l.bType) != layout::bTypeTC || !t.has(l.rgTCOLDESC, columnCount * c.size()))
        return h.damaged(QStringLiteral("its table header is damaged"));
    const auto end4 = static_cast<std::uint16_t>(t.field(l.rgib4b)), end2 = static_cast<std::uint16_t>(t.field(l.rgib2b)),
               end1 = static_cast<std::uint16_t>(t.field(l.rgib1b)), endBitmap = static_cast<std::uint16_t>(t.field(l.rgibBm));
    if (!(end4 <= end2 && end2 <= end1 && end1 <= endBitmap) || std::size_t(endBitmap - end1) < (columnCount + 7) / 8)
        return h.damaged(QStringLiteral("its row layout is inconsistent"));
    tc.m_rowSize = endBitmap;
    tc.m_bitmapOffset = end1;
    for (std::size_t i = 0; i < columnCount; ++i) {
        const std::size_t off = l.rgTCOLDESC + i * c.size();
        Column column{static_cast<std::uint32_t>(t.field(c.tag, off)), static_cast<std::uint16_t>(t.field(c.ibData, off)),
                      static_cast<std::uint8_t>(t.field(c.cbData, off)), static_cast<std::uint8_t>(t.field(c.iBit, off))};
        if (std::size_t(column.offset) + column.size > end1 || column.bit >= columnCount)
            return h.damaged(QStringLiteral("column %1 lies outside the row").arg(hex(column.tag)));
        tc.m_columns.push_back(column);
    }

    // The row index maps each row id to the row's position in the matrix.
    auto index = BTreeOnHeap::open(h, static_cast<std::uint32_t>(t.field(l.hidRowIndex)));
    if (!index)
        return index.error();
    if (index->keySize() != 4 || (index->dataSize() != 2 && index->dataSize() != 4))
        return h.damaged(
            QStringLiteral("its row index has records of %1 + %2 bytes").arg(index->keySize()).arg(index->dataSize()));
    std::vector<std::pair<std::uint32_t, std::uint32_t>> rows; // position, id
    auto walked = index->forEach([&](Bytes key, Bytes value) {
        rows.emplace_back(static_cast<std::uint32_t>(keyValue(value)), static_cast<std::uint32_t>(keyValue(key)));
    });
    if (!walked)
        return walked.error();
    std::stable_sort(rows.begin(), rows.end());

    std::size_t matrixRows = 0;
    const auto hnidRows = static_cast<std::uint32_t>(t.field(l.hnidRows));
    if (hnidRows != 0 && tc.m_rowSize > 0) {
        if (isHeapId(hnidRows)) {
            auto matrix = h.allocation(hnidRows);
            if (!matrix)
                return matrix.error();
            tc.m_heapRows.assign(matrix->begin(), matrix->end());
            matrixRows = tc.m_heapRows.size() / tc.m_rowSize;
        } else {
            auto tree = tc.m_store.subnodeData(hnidRows);
            if (!tree)
                return tree.error();
            for (const BlockEntry& leaf : tree->leaves()) {
                tc.m_leafFirstRow.push_back(matrixRows);
                matrixRows += leaf.cbInflated / tc.m_rowSize;
            }
            tc.m_rowTree = std::move(tree).value();
        }
    }
    for (const auto& [position, id] : rows) {
        if (position >= matrixRows)
            return h.damaged(QStringLiteral("row %1 lies outside its %2 rows").arg(hex(id)).arg(matrixRows));
        if (!tc.m_positions.empty() && tc.m_positions.back() == position)
            return h.damaged(QStringLiteral("two rows share position %1").arg(position));
        tc.m_positions.push_back(position);
        tc.m_rowIds.push_back(id);
    }
    return tc;
}

Result<Bytes> TableContext::rowBytes(std::size_t position) const
{
    if (!m_rowTree)
        return Bytes(m_heapRows).subspan(position * m_rowSize, m_rowSize);
    const auto it = std::upper_bound(m_leafFirstRow.begin(), m_leafFirstRow.end(), position);
    const std::size_t leaf = static_cast<std::size_t>(it - m_leafFirstRow.begin()) - 1;
    if (leaf != m_cachedLeaf) {
        m_cachedLeaf = SIZE_MAX;
        if (auto r = m_store.blocks().readAt(m_rowTree->leaves()[leaf], m_leafBytes, m_scratch); !r)
            return r.error().withContext(m_store.heap().where());
        m_cachedLeaf = leaf;
    }
    const std::size_t offset = (position - m_leafFirstRow[leaf]) * m_rowSize;
    if (offset + m_rowSize > m_leafBytes.size())
        return m_store.heap().damaged(QStringLiteral("row %1 lies outside its block").arg(position));
    return Bytes(m_leafBytes).subspan(offset, m_rowSize);
}

Result<std::vector<std::pair<std::uint32_t, StoredValue>>> TableContext::cells(std::size_t row) const
{
    if (row >= m_rowIds.size())
        return m_store.heap().damaged(QStringLiteral("there is no row %1").arg(row));
    auto bytes = rowBytes(m_positions[row]);
    if (!bytes)
        return bytes.error();
    const SpanReader r(*bytes);
    std::vector<std::pair<std::uint32_t, StoredValue>> result;
    for (const Column& column : m_columns) {
        const bool exists = (r.u8(m_bitmapOffset + column.bit / 8) & (0x80 >> (column.bit % 8))) != 0;
        if (!exists)
            continue;
        const auto type = static_cast<std::uint16_t>(column.tag & 0xFFFF);
        const std::size_t size = fixedSize(type);
        const bool inPlace = size > 0 && size <= 8;
        if (inPlace ? column.size != size : column.size != 4)
            continue; // a cell of a size its type cannot have: not readable
        result.emplace_back(column.tag, StoredValue{type, r.uint(column.offset, column.size), inPlace});
    }
    return result;
}

} // namespace parcelon::pst
