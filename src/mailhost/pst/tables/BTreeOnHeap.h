#pragma once

#include "mailhost/pst/tables/Heap.h"

#include <cstdint>
#include <functional>
#include <unordered_set>

namespace parcelon::pst {

// A B-tree stored in heap allocations: records of a fixed key and data size,
// sorted by key.
class BTreeOnHeap {
public:
    static Result<BTreeOnHeap> open(const Heap& heap, std::uint32_t headerHid);

    std::size_t keySize() const { return m_keySize; }
    std::size_t dataSize() const { return m_dataSize; }

    // Visits every record in key order: key bytes, then data bytes.
    Result<void> forEach(const std::function<void(Bytes key, Bytes data)>& visit) const;

private:
    Result<void> walk(std::uint32_t hid, int level, const std::function<void(Bytes, Bytes)>& visit,
                      std::unordered_set<std::uint32_t>& seen) const;

    const Heap* m_heap = nullptr;
    std::size_t m_keySize = 0;
    std::size_t m_dataSize = 0;
    int m_levels = 0;
    std::uint32_t m_root = 0;
};

// A record key read as an unsigned little-endian number.
std::uint64_t keyValue(Bytes key);

} // namespace parcelon::pst
