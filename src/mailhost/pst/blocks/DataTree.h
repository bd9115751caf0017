#pragma once

#include "mailhost/pst/blocks/Blocks.h"

#include <cstdint>
#include <vector>

namespace parcelon::pst {

// The data of a node or subnode: one data block, or a tree of XBLOCKs and
// XXBLOCKs whose leaves are data blocks. Opening a tree locates every leaf
// and checks the tree's sizes; the bytes are read later, leaf by leaf.
class DataTree {
public:
    DataTree() = default;

    // bid 0 gives the empty stream.
    static Result<DataTree> open(const Blocks& blocks, std::uint64_t bid);

    std::uint64_t size() const { return m_size; }
    const std::vector<BlockEntry>& leaves() const { return m_leaves; }
    std::uint64_t rootBid() const { return m_root; }

    // The whole stream, for data that has to be in memory (heaps); fails
    // when it is larger than `limit`.
    Result<std::vector<std::uint8_t>> readAll(const Blocks& blocks, std::uint64_t limit) const;
    // The bytes readAll() needs room for: the blocks as stored, read in place.
    std::size_t storedSize(const Blocks& blocks) const;
    // The same into `all`, whose memory is reused.
    Result<void> readAll(const Blocks& blocks, std::uint64_t limit, ByteBuffer& all) const;

    // The leaves' data one by one (the blocks of a heap).
    Result<std::vector<std::vector<std::uint8_t>>> readLeaves(const Blocks& blocks, std::uint64_t limit) const;

private:
    // Data larger than `limit` is not read into memory.
    Result<void> checkLimit(const Blocks& blocks, std::uint64_t limit) const;

    std::vector<BlockEntry> m_leaves;
    std::uint64_t m_size = 0;
    std::uint64_t m_root = 0;
};

} // namespace parcelon::pst
