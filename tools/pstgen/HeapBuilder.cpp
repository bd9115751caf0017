#include "pstgen/HeapBuilder.h"

#include "pstgen/DataTreeWriter.h"
#include "pstgen/RecordBuffer.h"

#include <algorithm>
#include <cstring>

namespace parcelon::pstgen {

namespace {

constexpr std::size_t kMaxAllocationsPerBlock = 2047; // the index field of a heap id has 11 bits
constexpr std::size_t kBitmapInterval = 128;          // blocks 8, 136, 264, ... carry fill levels

std::size_t pageMapSize(std::size_t allocations)
{
    return 4 + 2 * (allocations + 1);
}

std::size_t even(std::size_t n)
{
    return (n + 1) & ~std::size_t(1);
}

} // namespace

HeapBuilder::HeapBuilder(const Geometry& geometry, std::uint8_t clientSignature)
    : m_geometry(geometry), m_clientSignature(clientSignature)
{
}

std::uint32_t HeapBuilder::headerSize(std::size_t block) const
{
    if (block == 0)
        return 12; // HNHDR
    if (block % kBitmapInterval == 8)
        return 66; // HNBITMAPHDR
    return 2;      // HNPAGEHDR
}

std::uint32_t HeapBuilder::reserve(std::size_t size)
{
    const auto fits = [&](const Block& b, std::size_t index) {
        return b.starts.size() < kMaxAllocationsPerBlock
            && even(headerSize(index) + b.data.size() + size) + pageMapSize(b.starts.size() + 1) <= m_geometry.maxBlockData;
    };
    if (m_blocks.empty() || !fits(m_blocks.back(), m_blocks.size() - 1))
        m_blocks.emplace_back();
    Block& b = m_blocks.back();
    b.starts.push_back(std::uint16_t(b.data.size()));
    b.data.resize(b.data.size() + size, 0);
    const auto blockIndex = std::uint32_t(m_blocks.size() - 1);
    return (blockIndex << m_geometry.heapBlockShift) | (std::uint32_t(b.starts.size()) << 5);
}

std::uint32_t HeapBuilder::allocate(std::span<const std::uint8_t> bytes)
{
    const std::uint32_t hid = reserve(bytes.size());
    std::memcpy(this->bytes(hid).data(), bytes.data(), bytes.size());
    return hid;
}

std::span<std::uint8_t> HeapBuilder::bytes(std::uint32_t hid)
{
    Block& b = m_blocks.at(hid >> m_geometry.heapBlockShift);
    const std::size_t index = ((hid >> 5) & ((1u << (m_geometry.heapBlockShift - 5)) - 1)) - 1;
    const std::size_t start = b.starts.at(index);
    const std::size_t end = index + 1 < b.starts.size() ? b.starts[index + 1] : b.data.size();
    return std::span<std::uint8_t>(b.data).subspan(start, end - start);
}

std::uint8_t HeapBuilder::fillLevel(std::size_t block) const
{
    if (block >= m_blocks.size())
        return 0;
    const Block& b = m_blocks[block];
    const std::size_t used = even(headerSize(block) + b.data.size()) + pageMapSize(b.starts.size());
    const std::size_t free = m_geometry.maxBlockData - used;
    static constexpr std::size_t kAtLeast[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024, 768, 512, 256, 128, 64, 32, 16, 8};
    for (std::size_t level = 0; level < std::size(kAtLeast); ++level)
        if (free >= kAtLeast[level])
            return std::uint8_t(level);
    return 15;
}

std::vector<std::uint8_t> HeapBuilder::serialize(std::size_t index, bool last) const
{
    const Block& b = m_blocks[index];
    const std::size_t header = headerSize(index);
    const auto ibHnpm = std::uint16_t(even(header + b.data.size()));

    RecordBuffer out(m_geometry.maxBlockData);
    out.u16(ibHnpm);
    const auto fillLevels = [&](std::size_t first, std::size_t count) {
        for (std::size_t i = 0; i < count; i += 2)
            out.u8(std::uint8_t(fillLevel(first + i) | (fillLevel(first + i + 1) << 4)));
    };
    if (index == 0) {
        out.u8(0xEC).u8(m_clientSignature).u32(m_root);
        fillLevels(0, 8);
    } else if (header == 66) {
        fillLevels(index, kBitmapInterval);
    }
    out.bytes(b.data);
    out.zeros(ibHnpm - out.size());
    out.u16(std::uint16_t(b.starts.size())).u16(0);
    for (const std::uint16_t start : b.starts)
        out.u16(std::uint16_t(header + start));
    out.u16(std::uint16_t(header + b.data.size()));
    if (!last)
        out.zeros(m_geometry.maxBlockData - out.size());
    return std::move(out.vector());
}

std::uint64_t HeapBuilder::write(NdbWriter& ndb) const
{
    if (m_blocks.empty()) {
        // An empty heap still has its header and page map.
        HeapBuilder withBlock(*this);
        withBlock.m_blocks.emplace_back();
        return withBlock.write(ndb);
    }
    DataTreeWriter tree(ndb);
    for (std::size_t i = 0; i < m_blocks.size(); ++i)
        tree.append(serialize(i, i + 1 == m_blocks.size()));
    return tree.finish();
}

} // namespace parcelon::pstgen
