#pragma once

#include "mailhost/pst/blocks/SubnodeTree.h"
#include "mailhost/pst/tables/Heap.h"
#include "mailhost/pst/tables/PropertyTypes.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace parcelon::pst {

// Where a variable-size value lives: in the heap (small values, copied) or in
// a subnode's data tree (large ones, read block by block).
struct ValueLocation {
    std::vector<std::uint8_t> heapBytes;
    std::optional<DataTree> tree;

    std::uint64_t size() const { return tree ? tree->size() : heapBytes.size(); }
};

// A value as stored: in place (small fixed-size values; in tables, every
// fixed-size value up to eight bytes), or as an HNID: a heap id or the id of
// a subnode.
struct StoredValue {
    std::uint16_t type = 0;
    std::uint64_t raw = 0; // the value itself when in place, else the HNID
    bool inPlace = false;

    std::uint32_t hnid() const { return static_cast<std::uint32_t>(raw); }
};

// The access to values of a heap-based structure (a property context or a
// table): heap allocations and the node's subnodes.
class ValueStore {
public:
    ValueStore(const Blocks& blocks, Heap heap, std::shared_ptr<const SubnodeTree> subnodes)
        : m_blocks(&blocks), m_heap(std::move(heap)), m_subnodes(std::move(subnodes))
    {
    }

    const Heap& heap() const { return m_heap; }
    const Blocks& blocks() const { return *m_blocks; }
    const std::shared_ptr<const SubnodeTree>& subnodes() const { return m_subnodes; }

    // The value's bytes in full: fixed-size values little-endian, variable
    // ones as stored; fails beyond `limit` bytes.
    Result<std::vector<std::uint8_t>> bytes(const StoredValue& value, std::uint64_t limit) const;

    // Where a variable-size value lives, to be read piece by piece.
    Result<ValueLocation> locate(const StoredValue& value) const;

    // A data tree of a subnode of this node.
    Result<DataTree> subnodeData(Nid nid) const;

private:
    const Blocks* m_blocks;
    Heap m_heap;
    std::shared_ptr<const SubnodeTree> m_subnodes;
};

// The properties of one object (store, folder, message, attachment).
class PropertyContext {
public:
    struct Entry {
        std::uint16_t id = 0;
        StoredValue value;
    };

    // `subnodes` are the node's own subnodes, where large values live.
    static Result<PropertyContext> open(const Blocks& blocks, const DataTree& data, std::shared_ptr<const SubnodeTree> subnodes,
                                        const Where& where);

    const std::vector<Entry>& entries() const { return m_entries; }
    const Entry* find(std::uint16_t id) const;
    const ValueStore& store() const { return m_store; }
    const Where& where() const { return m_store.heap().where(); }

    // Typed reads of the value of `id`; nothing when it is absent or of
    // another type.
    std::optional<std::int32_t> integer32(std::uint16_t id) const;
    std::optional<bool> boolean(std::uint16_t id) const;
    Result<std::optional<std::vector<std::uint8_t>>> bytes(std::uint16_t id, std::uint64_t limit) const;

private:
    PropertyContext(ValueStore store) : m_store(std::move(store)) {}

    ValueStore m_store;
    std::vector<Entry> m_entries; // sorted by id
};

} // namespace parcelon::pst
