#pragma once

#include "mailhost/pst/blocks/DataTree.h"
#include "mailhost/pst/bytes/SpanReader.h"

#include <cstdint>
#include <vector>

namespace parcelon::pst {

// The heap on a node: the node's data blocks, each with a page map that
// cuts it into allocations addressed by heap ids (HIDs).
class Heap {
public:
    static constexpr std::uint8_t kTableContext = 0x7C;
    static constexpr std::uint8_t kPropertyContext = 0xBC;

    // Reads and checks the heap stored in `tree`; `where` is the object
    // whose node it is.
    static Result<Heap> open(const Blocks& blocks, const DataTree& tree, const Where& where);

    std::uint8_t clientSignature() const { return m_clientSignature; }
    std::uint32_t userRoot() const { return m_userRoot; }
    const Where& where() const { return m_where; }

    // The bytes of an allocation; HID 0 gives an empty span.
    Result<Bytes> allocation(std::uint32_t hid) const;

    // Damage to the heap or to what it holds.
    Error damaged(const QString& reason) const;

private:
    struct Block {
        std::vector<std::uint8_t> bytes;
        std::vector<std::uint16_t> starts; // allocation k spans [starts[k-1], starts[k])
    };

    std::vector<Block> m_blocks;
    bool m_wideIndex = false; // 4 KiB-page files: 14-bit allocation index, block index from bit 19
    std::uint8_t m_clientSignature = 0;
    std::uint32_t m_userRoot = 0;
    Where m_where;
};

// A value stored as an HNID: either a heap allocation or a subnode.
inline bool isHeapId(std::uint32_t hnid)
{
    return (hnid & 0x1F) == 0;
}

} // namespace parcelon::pst
