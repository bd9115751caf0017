#pragma once

#include "mailhost/pst/blocks/DataTree.h"

#include <cstdint>
#include <vector>

namespace parcelon::pst {

// Reads the bytes of a data tree in order, piece by piece: each piece is a
// run of blocks that lie back to back in the file, read with one read.
// Needs nothing but the file, so it may run on a thread of its own.
class TreeReader {
public:
    TreeReader(const Blocks& blocks, const DataTree& tree, std::size_t pieceBytes = 256 * 1024)
        : m_blocks(blocks), m_leaves(tree.leaves()), m_pieceBytes(pieceBytes)
    {
    }

    bool atEnd() const { return m_next == m_leaves.size(); }

    // Replaces `piece` with the next bytes of the stream.
    Result<void> next(std::vector<std::uint8_t>& piece);

private:
    const Blocks& m_blocks;
    const std::vector<BlockEntry>& m_leaves;
    std::size_t m_pieceBytes;
    std::size_t m_next = 0;
    std::vector<std::uint8_t> m_scratch;
};

} // namespace parcelon::pst
