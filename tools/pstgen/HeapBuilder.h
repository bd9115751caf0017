#pragma once

#include "pstgen/NdbWriter.h"

#include <cstdint>
#include <span>
#include <vector>

namespace parcelon::pstgen {

// A heap-on-node: allocations packed into blocks, each block ending in its
// page map. Built in memory (heaps hold table rows and small values, never
// attachment bytes) and written as the node's data tree.
class HeapBuilder {
public:
    // The largest allocation; bigger values go to subnodes.
    static constexpr std::size_t kMaxAllocation = 3580;

    HeapBuilder(const Geometry& geometry, std::uint8_t clientSignature);

    // A new allocation holding `bytes` (1..kMaxAllocation); returns its heap id.
    std::uint32_t allocate(std::span<const std::uint8_t> bytes);
    // A zero-filled allocation to be filled in later through bytes().
    std::uint32_t reserve(std::size_t size);
    std::span<std::uint8_t> bytes(std::uint32_t hid);

    void setRoot(std::uint32_t hid) { m_root = hid; }

    std::uint64_t write(NdbWriter& ndb) const;

private:
    struct Block {
        std::vector<std::uint8_t> data;    // the allocations, back to back
        std::vector<std::uint16_t> starts; // where each begins within `data`
    };

    std::uint32_t headerSize(std::size_t block) const;
    std::vector<std::uint8_t> serialize(std::size_t block, bool last) const;
    std::uint8_t fillLevel(std::size_t block) const;

    const Geometry& m_geometry;
    std::uint8_t m_clientSignature;
    std::uint32_t m_root = 0;
    std::vector<Block> m_blocks;
};

} // namespace parcelon::pstgen
