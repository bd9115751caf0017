#pragma once

#include "pstgen/ColumnSets.h"
#include "pstgen/HeapBuilder.h"
#include "pstgen/SubnodeList.h"
#include "pstgen/ValueStorage.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

namespace parcelon::pstgen {

// A table context: rows of cells in one of the column layouts, an index from
// row id to row, and the row matrix (in the heap, or in a subnode when the
// rows do not fit one allocation).
class TableContextBuilder {
public:
    class Row {
    public:
        Row(std::uint32_t rowId, std::uint32_t rowVersion, TextEncoding text);

        // A fixed-size cell (1, 2, 4 or 8 bytes by the column).
        Row& set(std::uint32_t tag, std::uint64_t value);
        Row& setString(std::uint32_t tag, const QString& value);
        Row& setBinary(std::uint32_t tag, QByteArray value);

        std::uint32_t rowId() const { return m_rowId; }

    private:
        friend class TableContextBuilder;
        std::uint32_t m_rowId;
        TextEncoding m_text;
        std::vector<std::pair<std::uint32_t, std::uint64_t>> m_fixed;
        std::vector<std::pair<std::uint32_t, QByteArray>> m_variable;
    };

    explicit TableContextBuilder(const ColumnSet& columns);

    void addRow(Row row);
    std::size_t rowCount() const { return m_rows.size(); }

    // Writes the table. Its row matrix and any cell value too large for the
    // heap become subnodes in `subnodes`. Returns the id of its data tree.
    std::uint64_t write(NdbWriter& ndb, SubnodeList& subnodes) const;

private:
    std::uint32_t writeRowIndex(HeapBuilder& heap, std::uint32_t dataSize, std::uint8_t& levels) const;

    const ColumnSet& m_columns;
    std::vector<Row> m_rows;
};

} // namespace parcelon::pstgen
