#pragma once

#include "mailhost/pst/tables/PropertyContext.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace parcelon::pst {

// A table (the subfolders, messages, attachments or recipients of an
// object): columns, and rows in the table's own order, each known by its
// row id (the id of the object the row stands for).
class TableContext {
public:
    struct Column {
        std::uint32_t tag = 0; // id << 16 | type
        std::uint16_t offset = 0;
        std::uint8_t size = 0;
        std::uint8_t bit = 0; // position in the cell existence bitmap
    };

    static Result<TableContext> open(const Blocks& blocks, const DataTree& data, std::shared_ptr<const SubnodeTree> subnodes,
                                     const Where& where);

    const std::vector<Column>& columns() const { return m_columns; }

    // Row ids in row order.
    const std::vector<std::uint32_t>& rowIds() const { return m_rowIds; }
    std::size_t rowCount() const { return m_rowIds.size(); }

    // The cells of row `row` (0-based, in row order) that exist, as stored
    // values to be read through store().
    Result<std::vector<std::pair<std::uint32_t, StoredValue>>> cells(std::size_t row) const;

    const ValueStore& store() const { return m_store; }

private:
    TableContext(ValueStore store) : m_store(std::move(store)) {}

    Result<Bytes> rowBytes(std::size_t position) const;

    ValueStore m_store;
    std::vector<Column> m_columns;
    std::vector<std::uint32_t> m_rowIds;
    std::vector<std::uint32_t> m_positions; // matrix position of each row
    std::size_t m_rowSize = 0;
    std::size_t m_bitmapOffset = 0;

    // The row matrix: in the heap, or in a subnode read leaf by leaf.
    std::vector<std::uint8_t> m_heapRows;
    std::optional<DataTree> m_rowTree;
    std::vector<std::size_t> m_leafFirstRow; // first matrix position of each leaf
    mutable std::size_t m_cachedLeaf = SIZE_MAX;
    mutable std::vector<std::uint8_t> m_leafBytes;
    mutable std::vector<std::uint8_t> m_scratch;
};

} // namespace parcelon::pst
