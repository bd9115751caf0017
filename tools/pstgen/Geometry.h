#pragma once

#include "pstgen/Description.h"

#include <cstdint>

namespace parcelon::pstgen {

// Sizes and places that differ between the two kinds of file.
struct Geometry {
    Format format;
    std::uint16_t version;         // wVer: 23 or 36
    std::uint32_t pageSize;        // BTree and map pages: 512 or 4096
    std::uint32_t pageTrailerSize; // 16 or 24
    std::uint32_t slotSize;        // block alignment and allocation-map unit: 64 or 512
    std::uint32_t blockTrailerSize; // 16 or 24
    std::uint32_t maxBlockData;    // data bytes in one block: 8176 or 65512
    std::uint64_t dlistOffset;     // the density list page
    std::uint64_t firstAMap;       // the first allocation map; sections start here
    std::uint64_t sectionSize;     // bytes one allocation map covers
    bool hasPageMaps;              // PMap, FMap and FPMap pages (512-byte pages only)
    std::uint32_t btEntryBytes;    // room for entries in a BTree page
    std::uint32_t btMetaOffset;    // where cEnt, cEntMax, cbEnt, cLevel begin
    std::uint32_t heapBlockShift;  // where the block index begins in a heap id

    static const Geometry& of(Format format);

    std::uint32_t pageDataSize() const { return pageSize - pageTrailerSize; }
    std::uint32_t blockDiskSize(std::uint32_t cb) const
    {
        return (cb + blockTrailerSize + slotSize - 1) / slotSize * slotSize;
    }
    std::uint32_t slotsPerSection() const { return std::uint32_t(sectionSize / slotSize); }
    std::uint64_t sectionStart(std::uint64_t index) const { return firstAMap + index * sectionSize; }

    // Entries of the block-id list in one XBLOCK, of an SLBLOCK and of an SIBLOCK.
    std::uint32_t xblockCapacity() const { return (maxBlockData - 8) / 8; }
    std::uint32_t slblockCapacity() const { return (maxBlockData - 8) / 24; }
    std::uint32_t siblockCapacity() const { return (maxBlockData - 8) / 16; }
};

} // namespace parcelon::pstgen
