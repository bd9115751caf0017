#pragma once

#include "pstgen/Geometry.h"

#include "mailhost/pst/bytes/Encoding.h"
#include "mailhost/pst/bytes/Error.h"

#include <QFileDevice>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace parcelon::pstgen {

// The node database of a file being written: blocks go to disk one after
// the other as they are produced, in sections of one allocation map each;
// only the index entries stay in memory until finish() writes the two
// BTrees, the allocation maps, the density list and, last, the header.
//
// Errors are kept: after the first failed write every call does nothing and
// finish() reports that error.
class NdbWriter {
public:
    NdbWriter(QFileDevice& file, const Geometry& geometry, pst::Encoding encoding);

    const Geometry& geometry() const { return m_geometry; }
    pst::Encoding encoding() const { return m_encoding; }

    // A data block: encoded, in 4 KiB files also compressed when that makes
    // it smaller. At most maxBlockData bytes. Returns its block id.
    std::uint64_t addDataBlock(std::span<const std::uint8_t> data);
    // An XBLOCK, XXBLOCK, SLBLOCK or SIBLOCK, stored as given.
    std::uint64_t addInternalBlock(std::span<const std::uint8_t> data);

    // An entry of the node BTree.
    void addNode(std::uint32_t nid, std::uint64_t bidData, std::uint64_t bidSub, std::uint32_t parent);
    // The next node id of `type` from the header's counters.
    std::uint32_t allocateNid(std::uint8_t type);

    // Completes the file; returns its size.
    pst::Result<std::uint64_t> finish();

    bool failed() const { return m_error.has_value(); }
    void fail(const pst::Error& error);

private:
    struct BlockEntry {
        std::uint64_t bid;
        std::uint64_t ib;
        std::uint16_t cb;
        std::uint16_t cbInflated;
    };
    struct NodeEntry {
        std::uint32_t nid;
        std::uint64_t bidData;
        std::uint64_t bidSub;
        std::uint32_t parent;
    };
    struct PageRef {
        std::uint64_t key;
        std::uint64_t bid;
        std::uint64_t ib;
    };

    std::uint64_t writeBlock(std::uint64_t bid, std::span<const std::uint8_t> stored, std::uint16_t cbInflated);
    // Room for `size` bytes at a multiple of `alignment`, in the current
    // section or the next one; returns the file offset.
    std::uint64_t place(std::uint32_t size, std::uint32_t alignment);
    std::uint8_t* at(std::uint64_t offset) { return m_section.data() + (offset - m_sectionStart); }
    void openSection(std::uint64_t index);
    void closeSection();
    void sealPage(std::uint8_t* page, std::uint8_t ptype, std::uint64_t bid, std::uint64_t ib, bool signature) const;

    PageRef writeBTreePage(std::uint8_t ptype, std::uint8_t level, std::uint8_t entrySize, std::span<const std::uint8_t> entries,
                           std::uint64_t firstKey);
    PageRef writeBTree(std::uint8_t ptype, std::uint8_t entrySize, const std::vector<std::uint8_t>& entries,
                       const std::vector<std::uint64_t>& keys);
    void writeMapPagesAtEnd();
    void writeDensityList();
    void writeHeader(const PageRef& nbt, const PageRef& bbt, std::uint64_t fileEnd);
    void writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);

    QFileDevice& m_file;
    const Geometry& m_geometry;
    pst::Encoding m_encoding;
    std::optional<pst::Error> m_error;

    std::uint64_t m_nextBid = 4;
    std::uint64_t m_nextPageBid = 1;
    std::array<std::uint32_t, 32> m_rgnid{};
    std::vector<BlockEntry> m_blocks;
    std::vector<NodeEntry> m_nodes;

    std::uint64_t m_sectionIndex = 0;
    std::uint64_t m_sectionStart = 0;
    std::vector<std::uint8_t> m_section;           // the current section's bytes so far
    std::vector<std::uint8_t> m_slotBits;          // its allocation map
    std::vector<std::uint32_t> m_freeSlots;        // free slots of every finished section
    std::vector<std::uint8_t> m_longestFree;       // longest free run of every finished section, at most 255
    std::vector<std::uint64_t> m_freeMapPages;     // offsets of FMap pages, filled in at the end
    std::vector<std::uint64_t> m_freePageMapPages; // offsets of FPMap pages

    std::vector<std::uint8_t> m_scratch;
};

} // namespace parcelon::pstgen
