#include "pstgen/TableContextBuilder.h"

#include "pstgen/DataTreeWriter.h"
#include "pstgen/PropertyTags.h"
#include "pstgen/RecordBuffer.h"
#include "pstgen/ValueStorage.h"

#include <algorithm>
#include <cstring>

namespace parcelon::pstgen {

namespace {

constexpr std::uint8_t kTableContext = 0x7C;

std::span<const std::uint8_t> asBytes(const QByteArray& b)
{
    return {reinterpret_cast<const std::uint8_t*>(b.constData()), std::size_t(b.size())};
}

} // namespace

TableContextBuilder::Row::Row(std::uint32_t rowId, std::uint32_t rowVersion, TextEncoding text) : m_rowId(rowId), m_text(text)
{
    set(tag::LtpRowId, rowId);
    set(tag::LtpRowVer, rowVersion);
}

TableContextBuilder::Row& TableContextBuilder::Row::set(std::uint32_t tag, std::uint64_t value)
{
    m_fixed.emplace_back(tag, value);
    return *this;
}

TableContextBuilder::Row& TableContextBuilder::Row::setString(std::uint32_t tag, const QString& value)
{
    return setBinary(tag, m_text.encode(value));
}

TableContextBuilder::Row& TableContextBuilder::Row::setBinary(std::uint32_t tag, QByteArray value)
{
    m_variable.emplace_back(tag, std::move(value));
    return *this;
}

TableContextBuilder::TableContextBuilder(const ColumnSet& columns) : m_columns(columns)
{
}

void TableContextBuilder::addRow(Row row)
{
    m_rows.push_back(std::move(row));
}

std::uint32_t TableContextBuilder::writeRowIndex(HeapBuilder& heap, std::uint32_t dataSize, std::uint8_t& levels) const
{
    // Leaf records {row id, row position}, sorted by row id; index levels
    // above them while more than one allocation is needed.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> records;
    records.reserve(m_rows.size());
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        records.emplace_back(m_rows[i].m_rowId, std::uint32_t(i));
    std::sort(records.begin(), records.end());
    levels = 0;
    if (records.empty())
        return 0;
    while (true) {
        // Leaves hold the row position in `dataSize` bytes, index levels a heap id.
        const std::uint32_t width = levels == 0 ? dataSize : 4;
        const std::size_t perAllocation = HeapBuilder::kMaxAllocation / (4 + width);
        std::vector<std::pair<std::uint32_t, std::uint32_t>> upper; // first key, heap id
        for (std::size_t first = 0; first < records.size(); first += perAllocation) {
            const std::size_t n = std::min(perAllocation, records.size() - first);
            RecordBuffer buf(n * (4 + width));
            for (std::size_t i = first; i < first + n; ++i) {
                buf.u32(records[i].first);
                if (width == 2)
                    buf.u16(std::uint16_t(records[i].second));
                else
                    buf.u32(records[i].second);
            }
            upper.emplace_back(records[first].first, heap.allocate(buf.span()));
        }
        if (upper.size() == 1)
            return upper.front().second;
        records = std::move(upper);
        ++levels;
    }
}

std::uint64_t TableContextBuilder::write(NdbWriter& ndb, SubnodeList& subnodes) const
{
    const Geometry& geometry = ndb.geometry();
    const std::size_t rowSize = m_columns.rowSize();
    const std::size_t cebOffset = m_columns.ends[2];

    // Outlook's order: row index header, TCINFO, row index, row matrix, cells.
    HeapBuilder heap(geometry, kTableContext);
    const std::uint32_t indexHeader = heap.reserve(8);
    const std::size_t columnCount = m_columns.columns.size();
    const std::uint32_t info = heap.reserve(22 + 8 * columnCount);
    if (m_rows.size() > (std::uint64_t(1) << (8 * geometry.rowIndexDataSize))) {
        ndb.fail(pst::Error(pst::ErrorKind::Unsupported,
                            QStringLiteral("a table of %1 rows is more than the format allows").arg(m_rows.size())));
        return 0;
    }
    std::uint8_t levels = 0;
    const std::uint32_t indexRoot = writeRowIndex(heap, geometry.rowIndexDataSize, levels);

    const std::size_t matrixSize = m_rows.size() * rowSize;
    const bool matrixInHeap = matrixSize > 0 && matrixSize <= HeapBuilder::kMaxAllocation;
    const std::uint32_t matrixHid = matrixInHeap ? heap.reserve(matrixSize) : 0;

    std::vector<std::uint8_t> matrix(matrixSize, 0);
    for (std::size_t r = 0; r < m_rows.size(); ++r) {
        std::uint8_t* row = matrix.data() + r * rowSize;
        const auto present = [&](const ColumnDescription& c) {
            row[cebOffset + c.iBit / 8] |= std::uint8_t(0x80 >> (c.iBit % 8));
        };
        for (const auto& [t, value] : m_rows[r].m_fixed) {
            const ColumnDescription* c = m_columns.find(t);
            if (!c)
                continue;
            switch (c->cbData) {
            case 1:
                row[c->ibData] = std::uint8_t(value);
                break;
            case 2:
                store16(row + c->ibData, std::uint16_t(value));
                break;
            case 4:
                store32(row + c->ibData, std::uint32_t(value));
                break;
            default:
                store64(row + c->ibData, value);
                break;
            }
            present(*c);
        }
        for (const auto& [t, value] : m_rows[r].m_variable) {
            const ColumnDescription* c = m_columns.find(t);
            if (!c)
                continue;
            store32(row + c->ibData, storeValue(asBytes(value), heap, ndb, subnodes));
            present(*c);
        }
    }

    std::uint32_t hnidRows = 0;
    if (matrixInHeap) {
        std::ranges::copy(matrix, heap.bytes(matrixHid).begin());
        hnidRows = matrixHid;
    } else if (!m_rows.empty()) {
        // Whole rows in every block; all blocks but the last are full size.
        const std::size_t perBlock = geometry.maxBlockData / rowSize;
        DataTreeWriter tree(ndb);
        const std::vector<std::uint8_t> padding(geometry.maxBlockData - perBlock * rowSize, 0);
        for (std::size_t first = 0; first < m_rows.size(); first += perBlock) {
            const std::size_t n = std::min(perBlock, m_rows.size() - first);
            tree.append(std::span<const std::uint8_t>(matrix).subspan(first * rowSize, n * rowSize));
            if (first + n < m_rows.size())
                tree.append(padding);
        }
        hnidRows = subnodes.allocate(0x1F);
        subnodes.add(hnidRows, tree.finish(), 0);
    }

    std::vector<ColumnDescription> sorted(m_columns.columns.begin(), m_columns.columns.end());
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.tag < b.tag; });
    RecordBuffer tcinfo(22 + 8 * columnCount);
    tcinfo.u8(kTableContext).u8(std::uint8_t(columnCount));
    for (const std::uint16_t end : m_columns.ends)
        tcinfo.u16(end);
    tcinfo.u32(indexHeader).u32(hnidRows).u32(0);
    const TextEncoding text(ndb, kDefaultCodePage);
    for (const auto& c : sorted)
        tcinfo.u32(text.tag(c.tag)).u16(c.ibData).u8(c.cbData).u8(c.iBit);
    std::ranges::copy(tcinfo.span(), heap.bytes(info).begin());

    RecordBuffer bth(8);
    bth.u8(0xB5).u8(4).u8(std::uint8_t(geometry.rowIndexDataSize)).u8(levels).u32(indexRoot);
    std::ranges::copy(bth.span(), heap.bytes(indexHeader).begin());
    heap.setRoot(info);
    return heap.write(ndb);
}

} // namespace parcelon::pstgen
