#pragma once

#include "pstgen/Description.h"

#include <cstdint>

namespace parcelon::pstgen {

// Sizes and places that differ between the kinds of file.
struct Geometry {
    Format format;
    std::uint16_t version;          // wVer: 14, 23 or 36
    std::uint32_t idSize;           // block ids, file offsets and the wide node id fields: 4 or 8
    std::uint32_t headerSize;       // 512 or 564
    std::uint32_t pageSize;         // BTree and map pages: 512 or 4096
    std::uint32_t pageTrailerSize;  // 12, 16 or 24
    std::uint32_t slotSize;         // block alignment and allocation-map unit: 64 or 512
    std::uint32_t blockTrailerSize; // 12, 16 or 24
    std::uint32_t maxBlockData;     // data bytes in one block: 8180, 8176 or 65512
    std::uint64_t dlistOffset;      // the density list page
    std::uint64_t firstAMap;        // the first allocation map; sections start here
    std::uint64_t sectionSize;      // bytes one allocation map covers
    bool hasPageMaps;               // PMap, FMap and FPMap pages (512-byte pages only)
    std::uint32_t mapPadding;       // bytes before the bits of a map page: 4 in ANSI files
    std::uint32_t btEntryBytes;     // room for entries in a BTree page
    std::uint32_t btMetaOffset;     // where cEnt, cEntMax, cbEnt, cLevel begin
    std::uint32_t heapBlockShift;   // where the block index begins in a heap id
    std::uint32_t rowIndexDataSize; // the row position in a table's row index: 2 in ANSI files, else 4
    std::uint64_t maxFileSize;      // ANSI offsets are 32 bits; Outlook stops at 2 GB

    static const Geometry& of(Format format);

    bool ansi() const { return format == Format::Ansi; }
    std::uint32_t pageDataSize() const { return pageSize - pageTrailerSize; }
    std::uint32_t blockDiskSize(std::uint32_t cb) const { return (cb + blockTrailerSize + slotSize - 1) / slotSize * slotSize; }
    std::uint32_t slotsPerSection() const { return std::uint32_t(sectionSize / slotSize); }
    std::uint64_t sectionStart(std::uint64_t index) const { return firstAMap + index * sectionSize; }

    // Entries in BTree pages: intermediate (key, child page), block leaf, node leaf.
    std::uint32_t btEntrySize() const { return 3 * idSize; }
    std::uint32_t bbtEntrySize() const { return ansi() ? 12 : 24; }
    std::uint32_t nbtEntrySize() const { return ansi() ? 16 : 32; }
    // The header of an SLBLOCK or SIBLOCK (btype, cLevel, cEnt, then padding
    // outside ANSI files) and its entries.
    std::uint32_t subnodeHeaderSize() const { return ansi() ? 4 : 8; }
    std::uint32_t slEntrySize() const { return 3 * idSize; }
    std::uint32_t siEntrySize() const { return 2 * idSize; }

    // Entries of the block-id list in one XBLOCK (ANSI: the 1019 Outlook's
    // own library allows), of an SLBLOCK and of an SIBLOCK.
    std::uint32_t xblockCapacity() const { return ansi() ? 1019 : (maxBlockData - 8) / idSize; }
    std::uint32_t slblockCapacity() const { return (maxBlockData - subnodeHeaderSize()) / slEntrySize(); }
    std::uint32_t siblockCapacity() const { return (maxBlockData - subnodeHeaderSize()) / siEntrySize(); }
};

} // namespace parcelon::pstgen
