#include "pstgen/DataTreeWriter.h"

#include "pstgen/RecordBuffer.h"

#include <algorithm>

namespace parcelon::pstgen {

DataTreeWriter::DataTreeWriter(NdbWriter& ndb) : m_ndb(ndb)
{
    m_pending.reserve(ndb.geometry().maxBlockData);
}

void DataTreeWriter::append(std::span<const std::uint8_t> bytes)
{
    const std::size_t blockSize = m_ndb.geometry().maxBlockData;
    m_size += bytes.size();
    while (!bytes.empty()) {
        if (m_pending.empty() && bytes.size() > blockSize) {
            // Whole blocks straight from the caller's buffer; the last bytes
            // wait, so that a stream never ends on an empty block.
            m_leaves.push_back(m_ndb.addDataBlock(bytes.first(blockSize)));
            m_leafSizes.push_back(std::uint32_t(blockSize));
            bytes = bytes.subspan(blockSize);
            continue;
        }
        const std::size_t n = std::min(blockSize - m_pending.size(), bytes.size());
        m_pending.insert(m_pending.end(), bytes.begin(), bytes.begin() + std::ptrdiff_t(n));
        bytes = bytes.subspan(n);
        if (m_pending.size() == blockSize && !bytes.empty()) {
            m_leaves.push_back(m_ndb.addDataBlock(m_pending));
            m_leafSizes.push_back(std::uint32_t(blockSize));
            m_pending.clear();
        }
    }
}

std::uint64_t DataTreeWriter::finish()
{
    if (!m_pending.empty()) {
        m_leaves.push_back(m_ndb.addDataBlock(m_pending));
        m_leafSizes.push_back(std::uint32_t(m_pending.size()));
        m_pending.clear();
    }
    if (m_leaves.empty())
        return 0;
    if (m_leaves.size() == 1)
        return m_leaves.front();
    const std::size_t perBlock = m_ndb.geometry().xblockCapacity();
    if (m_leaves.size() <= perBlock)
        return writeIndex(1, m_leaves, m_size);
    if (m_leaves.size() > perBlock * perBlock) {
        m_ndb.fail(
            pst::Error(pst::ErrorKind::Unsupported, QStringLiteral("a value of %1 bytes is too large for one node").arg(m_size)));
        return 0;
    }
    std::vector<std::uint64_t> xblocks;
    for (std::size_t first = 0; first < m_leaves.size(); first += perBlock) {
        const std::size_t n = std::min(perBlock, m_leaves.size() - first);
        std::uint64_t total = 0;
        for (std::size_t i = first; i < first + n; ++i)
            total += m_leafSizes[i];
        xblocks.push_back(writeIndex(1, std::span<const std::uint64_t>(m_leaves).subspan(first, n), total));
    }
    return writeIndex(2, xblocks, m_size);
}

std::uint64_t DataTreeWriter::writeIndex(std::uint8_t level, std::span<const std::uint64_t> children, std::uint64_t total)
{
    if (total > 0xFFFFFFFFull) {
        m_ndb.fail(pst::Error(pst::ErrorKind::Unsupported,
                              QStringLiteral("a value of %1 bytes is larger than the format allows").arg(total)));
        return 0;
    }
    const std::uint32_t width = m_ndb.geometry().idSize;
    RecordBuffer block(8 + width * children.size());
    block.u8(0x01).u8(level).u16(std::uint16_t(children.size())).u32(std::uint32_t(total));
    for (const std::uint64_t bid : children)
        block.id(bid, width);
    return m_ndb.addInternalBlock(block.span());
}

std::uint64_t DataTreeWriter::write(NdbWriter& ndb, std::span<const std::uint8_t> bytes)
{
    DataTreeWriter tree(ndb);
    tree.append(bytes);
    return tree.finish();
}

} // namespace parcelon::pstgen
